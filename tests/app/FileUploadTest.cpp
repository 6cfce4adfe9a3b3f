// The upload state table, the verification and the parse of RGINFO.INI.

#include "SessionFixture.h"

#include <algorithm>

using namespace apptest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::string Start(std::uint32_t size, std::uint32_t stamp, const std::string& name)
{
    return "UPLS" + Dword(size) + Dword(stamp) + name;
}
std::string Data(std::uint32_t number, const std::string& bytes)
{
    return "UPLD" + Dword(number) + bytes;
}
std::string End(std::uint32_t count, const std::string& bytes)
{
    return "UPLE" + Dword(count) + bytes;
}
std::string Info(std::uint32_t size, const std::string& stamp)
{
    return "UPLI" + Dword(size) + stamp;
}
// As a unit sends it: the rest of the 1024-byte report is zero.
std::string Padded(std::string packet)
{
    packet.resize(std::max<std::size_t>(packet.size(), 1024), '\0');
    return packet;
}

const std::string Chunk(1016, 'A');
const std::string Started = "<<Upload : Started. fileName:a.ini";
const std::string Sent = ">>UPLR";
const std::string FileData = "  " + FileDataText;

struct TPacket {
    std::string Data;
    std::vector<std::string> Logged;
    std::string Reply; // empty: none
};

class FileUpload : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        Begin(app::stUploadWait);
        Step();
    }

    void Expect(const std::vector<TPacket>& packets)
    {
        for (std::size_t i = 0; i < packets.size(); ++i) {
            SCOPED_TRACE("packet " + std::to_string(i) + " " + packets[i].Data.substr(0, 4));
            Feed(packets[i].Data);
            const std::size_t before = Messages().size();
            Step();
            // A reply is logged as ">>UPLR" when it is sent; without one none is.
            EXPECT_EQ(MessagesSince(before), packets[i].Logged);
            if (!packets[i].Reply.empty()) {
                EXPECT_EQ(Framed(12), packets[i].Reply);
            }
        }
    }
};

TEST_F(FileUpload, RefusedTransferAcceptsNoFurtherDataOrEndUntilTheNextStart)
{
    Expect({
        {Padded(Start(5, 7, "a.ini")), {Started, Sent}, Reply(4097, 0)},
        {Padded(Data(0, Chunk)), {Sent}, Reply(4098, 0)},
        {Padded(Data(3, "refused")), {"<<Error : Invalid packet number.", Sent}, Reply(4098, 1)},
        {Padded(Data(0, "refused")), {"<<Error : Invalid status.", Sent}, Reply(4098, 1)},
        {Padded(End(5, "abcde")), {"<<Error : Failed to upload file.", Sent, FileData}, Reply(4099, 1)},
        {Padded(End(5, "abcde")), {"  " + IgnoredText}, ""},
        {Padded(Info(1016, "t")), {"  Error : Verify NG. fileSize:1016 timeStamp:t"}, ""},
    });
    EXPECT_EQ(FForm->TestUploadedFile(), Chunk);
    EXPECT_EQ(FForm->State(), app::stFinished);
}

TEST_F(FileUpload, DataBeforeAnyStartIsRefusedForStatusAndAlsoForNumberUnlessZero)
{
    Expect({
        {Padded(Data(0, Chunk)), {"<<Error : Invalid status.", Sent}, Reply(4098, 1)},
        {Padded(Data(3, Chunk)),
         {"<<Error : Invalid status.", "<<Error : Invalid packet number.", Sent},
         Reply(4098, 1)},
    });
    EXPECT_THAT(FForm->TestUploadedFile(), IsEmpty());
}

TEST_F(FileUpload, StartInTheMiddleRestartsNumberingAndEmptiesTheBuffer)
{
    const std::string other(1016, 'B');
    Expect({
        {Padded(Start(0, 0, "a.ini")), {Started, Sent}, Reply(4097, 0)},
        {Padded(Data(0, Chunk)), {Sent}, Reply(4098, 0)},
        {Padded(Start(0, 0, "a.ini")), {Started, Sent}, Reply(4097, 0)},
        {Padded(Data(1, Chunk)), {"<<Error : Invalid packet number.", Sent}, Reply(4098, 1)},
        {Padded(Start(0, 0, "a.ini")), {Started, Sent}, Reply(4097, 0)},
        {Padded(Data(0, other)), {Sent}, Reply(4098, 0)},
        {Padded(End(3, "xyz")), {Sent, FileData}, Reply(4099, 0)},
        {Padded(End(3, "uvw")), {"  " + IgnoredText}, ""},
        {Padded(Info(1019, "t")),
         {"  Verify : OK. fileSize:1019 timeStamp:t", "<<Upload : Done", "  Read retry. Item"},
         ""},
    });
    EXPECT_EQ(FForm->TestUploadedFile(), other + "xyz");
}

TEST_F(FileUpload, EndCountOfZeroOrWithTopBitAppendsNothingAndSuchASizeNeverVerifies)
{
    FForm->Label1->SetCaption("Read end.");
    Expect({
        {Padded(Start(0, 0, "a.ini")), {Started, Sent}, Reply(4097, 0)},
        {Padded(End(0, "abcde")), {Sent, FileData}, Reply(4099, 0)},
        {Padded(Start(0, 0, "a.ini")), {Started, Sent}, Reply(4097, 0)},
        {Padded(End(0x80000005u, "abcde")), {Sent, FileData}, Reply(4099, 0)},
        {Padded(Info(0x80000000u, "s")), {"  Error : Verify NG. fileSize:-2147483648 timeStamp:s"}, ""},
    });
    EXPECT_THAT(FForm->TestUploadedFile(), IsEmpty());
    EXPECT_EQ(FForm->State(), app::stFinished);
    EXPECT_EQ(FForm->Label1->Caption(), "Read end.");
    EXPECT_THAT(FForm->Memo2->Lines(), ElementsAre(" FW :", "SER :"));
}

TEST_F(FileUpload, UploadPastOneMebibyteIsRefusedAndNothingIsAppendedPastTheCap)
{
    const std::size_t full = 1032 * 1016; // the most whole data packets under 1 MiB
    const struct {
        const char* Behaviour;
        std::string Packet;
        std::vector<std::string> Logged;
        std::string Reply;
    } cases[] = {
        {"data packet",
         Padded(Data(1032, Chunk)),
         {"<<Error : Upload too large, refused. size:1049528", Sent},
         Reply(4098, 1)},
        {"end packet",
         Padded(End(600, std::string(600, 'E'))),
         {"<<Error : Upload too large, refused. size:1049112", Sent, FileData},
         Reply(4099, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Behaviour);
        Begin(app::stUploadWait);
        Answer(Padded(Start(0, 0, "a.ini")));
        for (std::uint32_t number = 0; number < 1032; ++number)
            Answer(Padded(Data(number, Chunk)));
        Expect({{c.Packet, c.Logged, c.Reply},
                {Padded(Info(1049600, "t")), {"  Error : Verify NG. fileSize:1049600 timeStamp:t"}, ""}});
        EXPECT_EQ(FForm->TestUploadedFile().size(), full);
        ASSERT_NE(FForm->Outcome().Failure, nullptr);
        EXPECT_STREQ(FForm->Outcome().Failure, "upload-refused");
    }
}

TEST_F(FileUpload, UnknownPacketTypesAreDroppedSilently)
{
    Expect({{Padded("UPLX"), {}, ""}, {Padded("uplS"), {}, ""}, {"UPL", {}, ""}});
    EXPECT_EQ(FForm->State(), app::stUploadWait);
}

TEST_F(FileUpload, ShortPacketsAppendOnlyTheBytesPresentSoTheSizeCheckFails)
{
    Expect({
        {Padded(Start(0, 0, "a.ini")), {Started, Sent}, Reply(4097, 0)},
        {Data(0, "abc"), {Sent}, Reply(4098, 0)},
        // A short packet counts as one all the same.
        {Data(1, "x"), {Sent}, Reply(4098, 0)},
        {End(10, "de"), {Sent, FileData}, Reply(4099, 0)},
        {Info(1026, ""), {"  Error : Verify NG. fileSize:1026 timeStamp:"}, ""},
    });
    EXPECT_EQ(FForm->TestUploadedFile(), "abcxde");
}

TEST_F(FileUpload, FileNameAndStampEndAtAZeroByteOrOffset63)
{
    const std::string name(60, 'n');
    const std::string stamp(60, 's');
    Expect({
        {Padded(Start(0, 0, name)), {"<<Upload : Started. fileName:" + name.substr(0, 52), Sent}, Reply(4097, 0)},
        {Padded(End(0, "")), {Sent, FileData}, Reply(4099, 0)},
        {Padded(Info(1, stamp)), {"  Error : Verify NG. fileSize:1 timeStamp:" + stamp.substr(0, 56)}, ""},
    });
    Begin(app::stUploadWait);
    Step();
    Expect({{Padded(Info(1, std::string("T1\0junk", 7))), {"  Error : Verify NG. fileSize:1 timeStamp:T1"}, ""}});
}

TEST_F(FileUpload, OnlyAWholeTransferSinceAStartPacketVerifies)
{
    const std::string items = "ser S1\npcb P1\nbat B1\n";
    const struct {
        const char* Behaviour;
        std::string EarlierFile; // uploaded whole in an earlier session, if any
        std::vector<std::string> Packets;
        std::string Verdict;
        const char* Failure;
    } cases[] = {
        {"no start packet at all",
         "",
         {Padded(Info(0, "t"))},
         "  Error : Verify NG. fileSize:0 timeStamp:t",
         "verify-ng"},
        {"a data packet refused since the start",
         "",
         {Padded(Start(0, 0, "a.ini")), Padded(Data(0, Chunk)), Padded(Data(5, Chunk)), Padded(End(0, "")),
          Padded(Info(1016, "t"))},
         "  Error : Verify NG. fileSize:1016 timeStamp:t",
         "upload-refused"},
        {"the information packet before the end packet",
         "",
         {Padded(Start(0, 0, "a.ini")), Padded(Data(0, Chunk)), Padded(Info(1016, "t"))},
         "  Error : Verify NG. fileSize:1016 timeStamp:t",
         "verify-ng"},
        {"no start packet in this session, an earlier session's file kept",
         items,
         {Padded(Info(static_cast<std::uint32_t>(items.size()), "t"))},
         "  Error : Verify NG. fileSize:" + std::to_string(items.size()) + " timeStamp:t",
         "verify-ng"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Behaviour);
        if (!c.EarlierFile.empty()) {
            ReadIdentity("1.0.05", "OK P1\r\n");
            Upload(c.EarlierFile);
            ASSERT_TRUE(FForm->Outcome().FileVerified);
        }
        ReadIdentity("1.0.05", "OK P1\r\n");
        for (const std::string& packet : c.Packets)
            Answer(packet);
        EXPECT_EQ(Messages().back(), c.Verdict);
        EXPECT_EQ(FForm->State(), app::stFinished);
        EXPECT_FALSE(FForm->Outcome().FileVerified);
        EXPECT_STREQ(FForm->Outcome().Failure, c.Failure);
    }
}

TEST_F(FileUpload, EmptyFileVerifiesAndTheReadStartsAgainFromVer)
{
    Upload("");
    EXPECT_THAT(MessagesSince(Messages().size() - 3),
                ElementsAre("  Verify : OK. fileSize:0 timeStamp:t", "<<Upload : Done", "  Read retry. Item"));
    EXPECT_EQ(FForm->State(), app::stStartRead);
    const std::size_t before = Messages().size();
    Step();
    EXPECT_THAT(MessagesSince(before), ElementsAre("  2 status", ">>VER"));
    EXPECT_EQ(FForm->State(), app::stVersionWait);
}

TEST_F(FileUpload, ItemLinesAreFoundByKeywordAnywhereAndCountedUntilThree)
{
    const std::string head = "pcb P\nbat B\n";
    // Complete: the serial write that follows shows the three numbers (no unit takes it).
    const struct {
        const char* Behaviour;
        std::string File, Ser;
        std::string Last; // the last log line
        bool Cut = false;
    } cases[] = {
        {"any order, other lines around", "[x]\r\nbat B1\nfw 1\rpcb P1\r\n\r\nser S1\r\nser S2\r\nbat B2\r\n", "S1",
         ">>SSER P10000000000 B10000000000 S10000000000"},
        {"two ser lines and a pcb are three hits", "ser A\nser B\npcb P\nbat X\n", "B",
         "  Error : Item missing or empty, serial not written. item:bat"},
        {"user counts as ser; last line without break", "pcb P\nuser admin\nbat B", "uadmin",
         ">>SSER P00000000000 B00000000000 uadmin000000"},
        {"only the key and one space go", "ser  S1  \npcb pcb P\nbat B\n", " S1  ",
         ">>SSER P00000000000 B00000000000  S1  0000000"},
        {"a zero byte ends the text", head + std::string("\0ser S\n", 7), "", "  Read retry. Item"},
        {"a line ending at byte 1025 is whole", head + std::string(1007, '.') + "\nser S\n", "S",
         ">>SSER P00000000000 B00000000000 S00000000000"},
        {"a line cut at byte 1025 is no value", head + std::string(1009, '.') + "\nser S\n", "", "  Read retry. Item",
         true},
        {"bytes after 1025 are not looked at", head + std::string(1010, '.') + "\nser S\n", "", "  Read retry. Item"},
        {"exactly one data packet", "ser S\npcb P\nbat B\n" + std::string(998, '.'), "S",
         ">>SSER P00000000000 B00000000000 S00000000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Behaviour);
        ReadIdentity("1.0.05", "OK P1\r\n");
        FForm->Label1->SetCaption("Reading data.");
        const std::size_t before = Messages().size();
        Upload(c.File);
        const auto logged = MessagesSince(before);
        EXPECT_EQ(std::count(logged.begin(), logged.end(), "  Error : Item line cut at byte 1025, ignored."),
                  c.Cut ? 1 : 0);
        EXPECT_TRUE(Logged("  Verify : OK. fileSize:" + std::to_string(c.File.size()) + " timeStamp:t"));
        EXPECT_THAT(FForm->Memo2->Lines(), ElementsAre(" FW : 1.0.05", "SER : " + c.Ser));
        const bool complete = c.Last != "  Read retry. Item";
        EXPECT_EQ(Messages().back(), c.Last);
        EXPECT_EQ(FForm->State(), complete ? app::stFinished : app::stStartRead);
        EXPECT_EQ(FForm->Label1->Caption(), complete ? "Serial write failed." : "Reading data.");
    }
}

} // namespace

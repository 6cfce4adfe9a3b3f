#include "ReportDescriptor.h"

#include <algorithm>
#include <array>
#include <map>

namespace winapi::posix {

namespace {

enum TItemType { itMain = 0, itGlobal = 1, itLocal = 2 };
enum TReportKind { rkInput, rkOutput, rkFeature, rkCount };

constexpr unsigned MaxGlobalStack = 32;
// A report length must still fit HIDP_CAPS' 16-bit field with its report-ID byte.
constexpr std::uint64_t MaxReportBits = 8ull * 0xFFFE;

struct TGlobals {
    std::uint32_t UsagePage = 0;
    std::uint32_t ReportSize = 0;
    std::uint32_t ReportCount = 0;
    std::uint32_t ReportId = 0;
};

// The first usage declared before a main item; a 4-byte usage carries its own page.
struct TFirstUsage {
    bool Present = false;
    bool Extended = false;
    std::uint32_t Value = 0;
};

class TParser {
public:
    explicit TParser(TReportDescriptorCaps& result) : FResult(result) {}

    bool Item(unsigned type, unsigned tag, std::uint32_t value, unsigned size);
    bool Finish();

private:
    bool Main(unsigned tag);
    bool Global(unsigned tag, std::uint32_t value);
    void Local(unsigned tag, std::uint32_t value, unsigned size);
    bool AddReport(TReportKind kind);
    void BeginCollection();
    void EndCollection();
    bool Fail(std::string why)
    {
        FResult.Error = std::move(why);
        return false;
    }

    TReportDescriptorCaps& FResult;
    TGlobals FGlobals;
    std::vector<TGlobals> FStack;
    TFirstUsage FUsage;
    unsigned FDepth = 0;
    THidCollectionCaps FCurrent;
    // Bits per report ID of each kind in the open top-level collection.
    std::array<std::map<std::uint32_t, std::uint64_t>, rkCount> FBits;
};

bool TParser::Item(unsigned type, unsigned tag, std::uint32_t value, unsigned size)
{
    switch (type) {
    case itMain: return Main(tag);
    case itGlobal: return Global(tag, value);
    case itLocal: Local(tag, value, size); return true;
    default: return true; // reserved items are skipped, as the kernel does
    }
}

bool TParser::Main(unsigned tag)
{
    bool good = true;
    switch (tag) {
    case 8: good = AddReport(rkInput); break;
    case 9: good = AddReport(rkOutput); break;
    case 11: good = AddReport(rkFeature); break;
    case 10:
        if (FDepth == 0)
            BeginCollection();
        ++FDepth;
        break;
    case 12:
        if (FDepth == 0)
            return Fail("End Collection without a collection");
        if (--FDepth == 0)
            EndCollection();
        break;
    default: break;
    }
    FUsage = {};
    return good;
}

bool TParser::Global(unsigned tag, std::uint32_t value)
{
    switch (tag) {
    case 0: FGlobals.UsagePage = value; break;
    case 7: FGlobals.ReportSize = value; break;
    case 8:
        if (value == 0 || value > 255)
            return Fail("report ID " + std::to_string(value) + " out of range");
        FGlobals.ReportId = value;
        FResult.HasReportIds = true;
        break;
    case 9: FGlobals.ReportCount = value; break;
    case 10:
        if (FStack.size() == MaxGlobalStack)
            return Fail("Push nested too deep");
        FStack.push_back(FGlobals);
        break;
    case 11:
        if (FStack.empty())
            return Fail("Pop without Push");
        FGlobals = FStack.back();
        FStack.pop_back();
        break;
    default: break;
    }
    return true;
}

void TParser::Local(unsigned tag, std::uint32_t value, unsigned size)
{
    // Usage (0) or Usage Minimum (1): the first one names a collection.
    if ((tag == 0 || tag == 1) && !FUsage.Present)
        FUsage = {true, size == 4, value};
}

bool TParser::AddReport(TReportKind kind)
{
    // Data outside any collection belongs to no top-level collection and is not counted.
    if (FDepth == 0)
        return true;
    const std::uint64_t bits = std::uint64_t{FGlobals.ReportSize} * FGlobals.ReportCount;
    std::uint64_t& total = FBits[kind][FGlobals.ReportId];
    if (bits > MaxReportBits || total + bits > MaxReportBits)
        return Fail("report " + std::to_string(FGlobals.ReportId) + " longer than 65534 bytes");
    total += bits;
    if (kind == rkInput)
        FCurrent.InputReportIds.set(FGlobals.ReportId);
    return true;
}

void TParser::BeginCollection()
{
    FCurrent = {};
    // The page in effect at the collection applies to a usage given without one.
    const std::uint32_t page = FUsage.Extended ? FUsage.Value >> 16 : FGlobals.UsagePage;
    FCurrent.UsagePage = static_cast<std::uint16_t>(page);
    FCurrent.Usage = static_cast<std::uint16_t>(FUsage.Value);
    for (auto& bits : FBits)
        bits.clear();
}

void TParser::EndCollection()
{
    auto length = [](const std::map<std::uint32_t, std::uint64_t>& reports) {
        std::uint64_t longest = 0;
        for (const auto& [id, bits] : reports)
            longest = std::max(longest, bits);
        return static_cast<std::uint16_t>(longest == 0 ? 0 : (longest + 7) / 8 + 1);
    };
    FCurrent.InputLength = length(FBits[rkInput]);
    FCurrent.OutputLength = length(FBits[rkOutput]);
    FCurrent.FeatureLength = length(FBits[rkFeature]);
    FResult.Collections.push_back(FCurrent);
}

bool TParser::Finish()
{
    if (FDepth != 0)
        return Fail("a collection is not closed");
    if (FResult.Collections.empty())
        return Fail("no top-level collection");
    return true;
}

} // namespace

TReportDescriptorCaps ParseReportDescriptor(const std::uint8_t* data, std::size_t size)
{
    TReportDescriptorCaps result;
    TParser parser(result);
    bool good = true;
    std::size_t at = 0;
    while (good && at < size) {
        const std::uint8_t prefix = data[at];
        if (prefix == 0xFE) {
            // A long item: its size byte, its tag byte, then data nobody defines.
            if (size - at < 3 || size - at - 3 < data[at + 1]) {
                result.Error = "long item runs past the end";
                good = false;
                break;
            }
            at += 3 + data[at + 1];
            continue;
        }
        const unsigned length = (prefix & 3) == 3 ? 4 : prefix & 3;
        if (size - at - 1 < length) {
            result.Error = "item at byte " + std::to_string(at) + " runs past the end";
            good = false;
            break;
        }
        std::uint32_t value = 0;
        for (unsigned i = 0; i < length; ++i)
            value |= std::uint32_t{data[at + 1 + i]} << (8 * i);
        good = parser.Item((prefix >> 2) & 3, prefix >> 4, value, length);
        at += 1 + length;
    }
    if (good)
        good = parser.Finish();
    if (!good)
        result.Collections.clear();
    return result;
}

} // namespace winapi::posix

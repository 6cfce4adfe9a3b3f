#include "Upload.h"

#include "Console.h"
#include "VirtualUnit.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace sim {

namespace {

void AppendText(TBytes& out, const std::string& text, std::size_t limit)
{
    out.insert(out.end(), text.begin(), text.begin() + std::min(text.size(), limit));
}

TBytes PacketHead(const char* type, std::uint32_t value)
{
    TBytes packet(type, type + 4);
    AppendDword(packet, value);
    return packet;
}

std::string ReplyText(std::uint32_t code, std::uint32_t status)
{
    return "UPLR code " + std::to_string(code) + " status " + std::to_string(status);
}

} // namespace

std::vector<TUploadPacket> BuildUploadPackets(const TUploadRequest& request)
{
    const TBytes& file = request.File;
    const auto size = static_cast<std::uint32_t>(file.size());
    std::vector<TUploadPacket> packets;

    TBytes start = PacketHead("UPLS", size);
    AppendDword(start, request.TimeStamp);
    AppendText(start, request.Name, UploadNameLimit);
    packets.push_back({"UPLS", std::move(start), UploadStartReplyCode});

    const std::size_t whole = file.size() / UploadChunkSize;
    for (std::size_t number = 0; number < whole; ++number) {
        TBytes data = PacketHead("UPLD", static_cast<std::uint32_t>(number));
        const auto chunk = file.begin() + static_cast<std::ptrdiff_t>(number * UploadChunkSize);
        data.insert(data.end(), chunk, chunk + UploadChunkSize);
        packets.push_back({"UPLD " + std::to_string(number), std::move(data), UploadDataReplyCode});
    }

    const std::size_t rest = file.size() % UploadChunkSize;
    TBytes end = PacketHead("UPLE", static_cast<std::uint32_t>(rest));
    end.insert(end.end(), file.end() - static_cast<std::ptrdiff_t>(rest), file.end());
    packets.push_back({"UPLE", std::move(end), UploadEndReplyCode});

    TBytes info = PacketHead("UPLI", request.AnnouncedSize.value_or(size));
    AppendText(info, request.StampText, UploadStampLimit);
    packets.push_back({"UPLI", std::move(info), std::nullopt});
    return packets;
}

std::optional<std::string> CheckUploadReply(const TBytes& data, std::uint32_t code)
{
    static const std::uint8_t Keyword[] = {'U', 'P', 'L', 'R'};
    if (data.size() < 12 || !std::equal(Keyword, Keyword + 4, data.begin()))
        return DescribeBytes(data);
    const std::uint32_t gotCode = DwordAt(data, 4);
    const std::uint32_t status = DwordAt(data, 8);
    if (gotCode == code && status == 0)
        return std::nullopt;
    return ReplyText(gotCode, status) + (status != 0 ? " (refused)" : "");
}

std::optional<TUploadFailure> RunUpload(TVirtualUnit& unit, const TUploadRequest& request,
                                        std::chrono::milliseconds timeout)
{
    for (const TUploadPacket& packet : BuildUploadPackets(request)) {
        switch (unit.SendInputReport(packet.Data, timeout)) {
        case TWaitResult::Ready: break;
        case TWaitResult::TimedOut:
            return TUploadFailure{"a reader for " + packet.Label,
                                  "no connection opened for reading within " + SecondsText(timeout)};
        case TWaitResult::Stopped: return TUploadFailure{"sending " + packet.Label, "stopped by a signal", true};
        }
        if (!packet.ReplyCode)
            continue;

        const std::string expected = ReplyText(*packet.ReplyCode, 0) + " after " + packet.Label;
        TBytes report;
        switch (unit.NextOutputReport(report, timeout)) {
        case TWaitResult::Ready: break;
        case TWaitResult::TimedOut: return TUploadFailure{expected, "nothing arrived within " + SecondsText(timeout)};
        case TWaitResult::Stopped: return TUploadFailure{expected, "stopped by a signal", true};
        }
        if (auto arrived = CheckUploadReply(TBytes(report.begin() + 1, report.end()), *packet.ReplyCode))
            return TUploadFailure{expected, *arrived};
    }
    return std::nullopt;
}

std::string UploadStampNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

} // namespace sim

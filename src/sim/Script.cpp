#include "Script.h"

#include "Fd.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace sim {

namespace {

constexpr std::uint32_t LongestWaitMs = 24u * 60u * 60u * 1000u;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Script text echoed in a message: non-printables as \xHH, long text cut.
std::string Quoted(std::string_view text)
{
    constexpr std::size_t Limit = 40;
    std::string quoted = "\"";
    for (std::size_t i = 0; i < std::min(text.size(), Limit); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7f) {
            quoted += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            quoted += escaped;
        }
    }
    return quoted + (text.size() > Limit ? "\"..." : "\"");
}

bool ParseMilliseconds(std::string_view text, std::uint32_t& value, std::string& error)
{
    std::uint64_t total = 0;
    bool valid = !text.empty() && text.size() <= 9;
    for (const char c : text) {
        valid = valid && std::isdigit(static_cast<unsigned char>(c));
        total = total * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (!valid || total > LongestWaitMs) {
        error = "bad number of milliseconds " + Quoted(text) + " (0 to " + std::to_string(LongestWaitMs) + ")";
        return false;
    }
    value = static_cast<std::uint32_t>(total);
    return true;
}

bool ParseHexBytes(std::string_view text, TBytes& bytes, std::string& error)
{
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ' || text[at] == '\t') {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t')
            ++end;
        const std::string_view token = text.substr(at, end - at);
        if (token.size() != 2 || HexDigit(token[0]) < 0 || HexDigit(token[1]) < 0) {
            error = "bad hex byte " + Quoted(token) + " (two hex digits each)";
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(HexDigit(token[0]) * 16 + HexDigit(token[1])));
        at = end;
    }
    if (bytes.empty()) {
        error = "send-hex needs at least one byte";
        return false;
    }
    return true;
}

std::optional<std::string> EscapedText(std::string_view text, std::string& error)
{
    const auto bytes = ParseEscapes(text, error);
    return bytes ? std::optional<std::string>(std::string(bytes->begin(), bytes->end())) : std::nullopt;
}

// FILE, then " size=N", " stamp=TEXT", " name=TEXT" in any order; a value runs to the next
// option so that a stamp may hold spaces.
bool ParseUpload(std::string_view text, TScriptStep& step, std::string& error)
{
    static const char* const Keys[] = {" size=", " stamp=", " name="};
    static const char* const KeyNames[] = {"size", "stamp", "name"};
    struct TFound {
        std::size_t At;
        int Key;
    };
    std::vector<TFound> found;
    for (int key = 0; key < 3; ++key) {
        for (std::size_t at = text.find(Keys[key]); at != std::string_view::npos; at = text.find(Keys[key], at + 1))
            found.push_back({at, key});
    }
    std::sort(found.begin(), found.end(), [](const TFound& a, const TFound& b) { return a.At < b.At; });

    const std::size_t fileEnd = found.empty() ? text.size() : found.front().At;
    const auto file = EscapedText(text.substr(0, fileEnd), error);
    if (!file)
        return false;
    if (file->empty()) {
        error = "upload needs a file";
        return false;
    }
    step.File = *file;

    bool seen[3] = {false, false, false};
    for (std::size_t i = 0; i < found.size(); ++i) {
        const int key = found[i].Key;
        const std::size_t valueAt = found[i].At + std::strlen(Keys[key]);
        const std::size_t valueEnd = i + 1 < found.size() ? found[i + 1].At : text.size();
        if (seen[key]) {
            error = std::string("upload option ") + KeyNames[key] + "= given twice";
            return false;
        }
        seen[key] = true;
        const auto value = EscapedText(text.substr(valueAt, valueEnd - valueAt), error);
        if (!value)
            return false;
        if (key == 0) {
            errno = 0;
            char* end = nullptr;
            const long long size = std::strtoll(value->c_str(), &end, 0);
            if (value->empty() || end != value->c_str() + value->size() || errno != 0 || size < 0 || size > 0xffffffffLL
                || !std::isdigit(static_cast<unsigned char>((*value)[0]))) {
                error = "bad size " + Quoted(*value) + " (0 to 4294967295)";
                return false;
            }
            step.Size = static_cast<std::uint32_t>(size);
        } else if (key == 1) {
            step.Stamp = *value;
        } else {
            step.Name = *value;
        }
    }
    return true;
}

} // namespace

std::optional<TBytes> ParseEscapes(std::string_view text, std::string& error)
{
    TBytes bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes.push_back(static_cast<std::uint8_t>(text[i]));
            continue;
        }
        if (i + 1 >= text.size()) {
            error = "backslash at the end of the line";
            return std::nullopt;
        }
        switch (const char c = text[++i]) {
        case 'r': bytes.push_back('\r'); break;
        case 'n': bytes.push_back('\n'); break;
        case 't': bytes.push_back('\t'); break;
        case '0': bytes.push_back(0); break;
        case '\\': bytes.push_back('\\'); break;
        case 'x': {
            const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                error = "\\x needs two hex digits";
                return std::nullopt;
            }
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
            i += 2;
            break;
        }
        default: error = std::string("unknown escape \\") + c; return std::nullopt;
        }
    }
    return bytes;
}

namespace {

// One step from its keyword and argument; `placed` follows the unit through unplug and plug.
bool ParseStep(const std::string& keyword, std::optional<std::string_view> argument, bool& placed, TScriptStep& step,
               std::string& message)
{
    const std::string_view text = argument.value_or(std::string_view());
    if (keyword == "expect" || keyword == "send") {
        step.Kind = keyword == "expect" ? TStepKind::Expect : TStepKind::Send;
        auto bytes = ParseEscapes(text, message);
        if (!bytes)
            return false;
        if (keyword == "expect" && bytes->empty()) {
            message = "expect needs a text (expect-any takes any report)";
            return false;
        }
        step.Bytes = std::move(*bytes);
        return true;
    }
    if (keyword == "send-hex") {
        step.Kind = TStepKind::Send;
        return ParseHexBytes(text, step.Bytes, message);
    }
    if (keyword == "quiet" || keyword == "sleep") {
        step.Kind = keyword == "quiet" ? TStepKind::Quiet : TStepKind::Sleep;
        return ParseMilliseconds(text, step.Milliseconds, message);
    }
    if (keyword == "await") {
        step.Kind = TStepKind::Await;
        const auto file = EscapedText(text, message);
        if (!file)
            return false;
        if (file->empty()) {
            message = "await needs a file";
            return false;
        }
        step.File = *file;
        return true;
    }
    if (keyword == "upload") {
        step.Kind = TStepKind::Upload;
        return ParseUpload(text, step, message);
    }
    if (keyword == "expect-any" || keyword == "unplug" || keyword == "plug") {
        step.Kind = keyword == "expect-any" ? TStepKind::ExpectAny
            : keyword == "unplug"           ? TStepKind::Unplug
                                            : TStepKind::Plug;
        if (argument)
            message = keyword + " takes no argument";
        else if (step.Kind == TStepKind::Unplug && !placed)
            message = "unplug while the unit is already out";
        else if (step.Kind == TStepKind::Plug && placed)
            message = "plug while the unit is already placed";
        if (step.Kind == TStepKind::Unplug || step.Kind == TStepKind::Plug)
            placed = step.Kind == TStepKind::Plug;
        return message.empty();
    }
    message = "unknown keyword " + Quoted(keyword);
    return false;
}

} // namespace

bool TScript::Parse(const std::string& text, TScriptError& error)
{
    FSteps.clear();
    bool placed = true;
    int line = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view content(text.data() + start, end - start);
        start = end + 1;
        ++line;
        if (!content.empty() && content.back() == '\r')
            content.remove_suffix(1);
        if (content.empty() || content.front() == '#')
            continue;

        const std::size_t space = content.find(' ');
        std::optional<std::string_view> argument;
        if (space != std::string_view::npos)
            argument = content.substr(space + 1);
        TScriptStep step;
        step.Line = line;
        std::string message;
        if (!ParseStep(std::string(content.substr(0, space)), argument, placed, step, message)) {
            error = {line, message};
            return false;
        }
        FSteps.push_back(std::move(step));
    }
    return true;
}

bool TScript::LoadFiles(const std::string& baseDirectory, TScriptError& error)
{
    for (TScriptStep& step : FSteps) {
        if (step.Kind != TStepKind::Upload && step.Kind != TStepKind::Await)
            continue;
        const std::string path = step.File.front() == '/' ? step.File : baseDirectory + "/" + step.File;
        if (step.Kind == TStepKind::Await) {
            step.File = path;
            continue;
        }
        if (!ReadWholeFile(path, step.FileContents, error)) {
            error = {step.Line, error.Message};
            return false;
        }
    }
    return true;
}

bool ReadWholeFile(const std::string& path, TBytes& contents, TScriptError& error)
{
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0) {
        error.Message = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode) || st.st_size > MaximumFileSize) {
        error.Message =
            "cannot read " + path + ": not a regular file of at most " + std::to_string(MaximumFileSize) + " bytes";
        return false;
    }
    contents.clear();
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error.Message = "cannot read " + path + ": " + std::strerror(errno);
            return false;
        }
        if (got == 0 || contents.size() + static_cast<std::size_t>(got) > MaximumFileSize)
            break;
        contents.insert(contents.end(), buffer, buffer + got);
    }
    return true;
}

} // namespace sim

#include "CommandLine.h"

#include <algorithm>

namespace cli {

namespace {

// The usage first, as help2man and readers expect, then the options.
class TFormatter : public CLI::Formatter {
public:
    explicit TFormatter(std::string usage) : FUsage(std::move(usage)) { column_width(28); }
    std::string make_description(const CLI::App*) const override { return {}; }
    std::string make_usage(const CLI::App*, std::string) const override { return FUsage; }

private:
    std::string FUsage;
};

} // namespace

void Conventions(CLI::App& app, const std::string& version, std::string usage, const std::string& versionFlag)
{
    app.formatter(std::make_shared<TFormatter>(std::move(usage)));
    app.set_help_flag("-h,--help", "show this help and exit");
    app.set_version_flag(versionFlag, version, "show the program's version and exit");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    // Extras are ours to report, in the order given rather than CLI11's.
    app.allow_extras();
}

TParsed Parse(CLI::App& app, const std::vector<std::string>& args)
{
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return {TOutcome::Help, {}};
    } catch (const CLI::CallForVersion& version) {
        return {TOutcome::Version, version.what()};
    } catch (const CLI::ParseError& error) {
        return {TOutcome::Error, error.what()};
    }
    const std::vector<std::string> extras = app.remaining();
    if (extras.empty())
        return {};
    const std::string& first = extras.front();
    if (first.size() > 1 && first[0] == '-')
        return {TOutcome::Error, "unknown option " + first.substr(0, first.find('='))};
    return {TOutcome::Error, "unexpected argument " + first};
}

TParsed Parse(CLI::App& app, int argc, const char* const* argv)
{
    return Parse(app, std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
}

void PrintUsageError(std::FILE* to, const char* program, const std::string& error)
{
    std::fprintf(to, "%s: %s\nRun with --help for more.\n", program, error.c_str());
    std::fflush(to);
}

CLI::Validator OneOf(std::vector<std::string> values, std::string reason)
{
    return CLI::Validator(
        [values = std::move(values), reason = std::move(reason)](std::string& value) {
            return std::find(values.begin(), values.end(), value) != values.end() ? std::string() : reason;
        },
        "");
}

CLI::Validator NotEmpty()
{
    return CLI::Validator(
        [](std::string& value) { return value.empty() ? std::string("takes a non-empty value") : std::string(); }, "");
}

} // namespace cli

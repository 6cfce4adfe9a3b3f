#pragma once

#include "BehaviourModel.h"
#include "VirtualUnit.h"

#include <chrono>
#include <string>

namespace sim {

enum class TTransport { Socket, Uhid, Usb };

struct TSimOptions {
    TTransport Transport = TTransport::Socket;
    std::string Directory;  // empty: the unit directory rule decides
    std::string Descriptor; // uhid only: a file of report descriptor bytes
    unsigned Count = 1;
    TUnitDescription Unit; // Name and everything the hello tells
    TModelSettings Model;
    std::string InfoFile;
    std::string Script;
    std::chrono::milliseconds StepTimeout{5000};
    std::string Trace;
};

enum class TParseOutcome { Run, Help, Version, Error };

// On Error, `error` says which option or value was wrong, in one line; on Help and Version it
// holds the text to print.
TParseOutcome ParseOptions(int argc, const char* const* argv, TSimOptions& options, std::string& error);

std::string HelpText();

} // namespace sim

#pragma once

// A --record file read back: every line checked against docs/record.schema.json, and its wire
// fields against what the unit's trace shows went over the wire.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace apptest {

// The file's lines after the first `skip`, each checked against the schema (a failed check
// is a test failure) and parsed.
std::vector<nlohmann::json> ReadRecord(const std::string& path, std::size_t skip = 0);

// The record's firmware, serial block, file and serial write are what the unit's trace holds:
// its VER and GSER answers, its start and verify packets, and the SSER command it received.
void ExpectRecordTrueToTrace(const nlohmann::json& record, const std::string& trace);

} // namespace apptest

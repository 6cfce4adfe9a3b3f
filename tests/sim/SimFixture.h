#pragma once

#include "SimProcess.h"
#include "TestClient.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace simtest {

// A private unit directory per test, and the simulator started in it.
class SimFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts quillmark-sim with --dir and `args`; does not wait for anything.
    TSimProcess& Launch(const std::vector<std::string>& args);
    // Starts it and waits for "placed NAME PATH"; returns PATH, or "" (with a test failure).
    std::string Place(const std::vector<std::string>& args);
    // A client connected to `path` and opened with `access`.
    std::unique_ptr<TTestClient> OpenClient(const std::string& path, const std::string& access = "open rw");
    std::string WriteFile(const std::string& name, const std::string& contents);
    std::vector<std::string> DirectoryEntries() const;

    std::string FDir;
    std::unique_ptr<TSimProcess> FSim;
};

struct TReceivedUpload {
    std::uint32_t StartSize = 0;
    std::uint32_t TimeStamp = 0;
    std::string Name;
    std::vector<std::uint32_t> DataNumbers;
    std::uint32_t EndCount = 0;
    TBytes File;
    std::uint32_t InfoSize = 0;
    std::string Stamp;
};

// Receives a whole upload, answering UPLS/UPLD/UPLE with accepting replies. On a packet that
// breaks the protocol, returns nothing and says why in `problem`.
std::optional<TReceivedUpload> ReceiveUpload(TTestClient& client, std::string& problem);

std::uint32_t DwordOf(const TBytes& bytes, std::size_t offset);

} // namespace simtest

#pragma once

// A unit that breaks the transport in ways quillmark-sim never does: it listens without
// accepting, greets late or never, sends empty messages, stops reading, or dies and leaves
// its socket file behind.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class TFakeUnit {
public:
    enum TMode {
        NeverAccepts, // listens; connections wait in its backlog
        BacklogFull,  // listens with a full backlog: a blocking connect never returns
        Stale,        // the socket file of a unit that died: nobody listens
        Silent,       // accepts, greets only when Greet() is called
        Greets,       // accepts and greets at once
        Unlistened,   // bound, but refuses connections until Listen(); then greets
    };

    // Places NAME.sock in the directory. After a connection's open request a greeting unit
    // sends `messages` (each one message, "" an empty one) and then reads nothing more.
    TFakeUnit(const std::string& directory, const std::string& name, TMode mode,
              std::vector<std::string> messages = {});
    ~TFakeUnit();
    TFakeUnit(const TFakeUnit&) = delete;
    TFakeUnit& operator=(const TFakeUnit&) = delete;

    // A silent unit greets every connection it has accepted and every later one.
    void Greet() { FGreet = true; }
    // An unlistened unit starts to listen, its socket file untouched.
    void Listen();
    // Closes every connection and stops listening; the socket file stays, as after a kill.
    void Die();
    int Accepted() const { return FAccepted; }
    std::string Path() const { return FPath; }

private:
    void Serve();

    std::string FPath;
    std::vector<std::string> FMessages;
    int FListen = -1;
    int FFiller = -1;
    int FStop = -1;
    std::atomic<bool> FGreet{false};
    std::atomic<int> FAccepted{0};
    std::thread FThread;
};

} // namespace testsupport

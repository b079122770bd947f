#pragma once
// Keeps the system awake while a patch job runs: a laptop that goes to sleep in the
// middle of a long download loses the transfer. The request belongs to the thread that
// makes it and ends with the object, whichever way the job ends (the display may still
// turn off).

namespace korvel {

class KeepAwake {
public:
    KeepAwake() noexcept;
    ~KeepAwake();
    KeepAwake(KeepAwake const&) = delete;
    KeepAwake& operator=(KeepAwake const&) = delete;

private:
    bool held_ = false;
};

// How many requests to stay awake are held in this process now. Wine accepts the
// request but has no sleep to hold off, so this count is what a test can see.
int keep_awake_requests() noexcept;

}  // namespace korvel

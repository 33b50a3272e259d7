// A stand-in for the library that wdstop loads. Its StopWatchDogTimer gives the answers of
// FAKE_ANSWERS in turn (the last one from then on) and notes each call, with the monotonic
// time in microseconds, in the file named by WDSTOP_FAKE_LOG. Built with FAKE_WITHOUT_STOP
// it has every other watchdog function but that one.
#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace {

void Note(int answer) {
    const char* path = std::getenv("WDSTOP_FAKE_LOG");
    if (!path) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (std::FILE* log = std::fopen(path, "a")) {
        std::fprintf(log, "%lld %d\n", static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000, answer);
        std::fclose(log);
    }
}

}  // namespace

#ifndef FAKE_WITHOUT_STOP
extern "C" int StopWatchDogTimer(void) {
    static const int answers[] = {FAKE_ANSWERS};
    static int calls = 0;
    constexpr int count = sizeof answers / sizeof answers[0];
    const int answer = answers[calls < count ? calls : count - 1];
    ++calls;
    Note(answer);
    return answer;
}
#endif

extern "C" int ResetWatchDogTimer(void) {
    Note(0);
    return 0;
}

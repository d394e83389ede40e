#include "app/OpenTiming.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;

struct Marks {
    std::string file;
    Clock::time_point accepted;
    std::optional<Clock::time_point> read;
    std::optional<Clock::time_point> converted;
};

bool Enabled()
{
    static const bool enabled = std::getenv("KAVREL_OPEN_TIMING") != nullptr;
    return enabled;
}

std::optional<Marks>& Pending()
{
    static std::optional<Marks> pending;
    return pending;
}

double Milliseconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

} // namespace

void OpenTiming::Accepted(const std::string& file)
{
    if (Enabled())
        Pending() = Marks { file, Clock::now(), std::nullopt, std::nullopt };
}

void OpenTiming::Read()
{
    if (Enabled() && Pending() && !Pending()->read)
        Pending()->read = Clock::now();
}

void OpenTiming::Converted()
{
    if (Enabled() && Pending() && Pending()->read && !Pending()->converted)
        Pending()->converted = Clock::now();
}

void OpenTiming::Painted()
{
    if (!Enabled() || !Pending() || !Pending()->converted)
        return;
    const Marks& marks = *Pending();
    std::fprintf(stderr,
        "kavrel: %s: read %.1f ms, converted for the screen %.1f ms, first paint %.1f ms after Open's OK\n",
        marks.file.c_str(), Milliseconds(marks.accepted, *marks.read), Milliseconds(*marks.read, *marks.converted),
        Milliseconds(marks.accepted, Clock::now()));
    Pending().reset();
}

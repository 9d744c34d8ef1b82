#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zantrel::bench {

using Group = std::function<int()>;

std::map<std::string, Group>& groups();
// The words after the group's name on the command line.
std::vector<std::string>& arguments();

// Registers a group at start-up: `static const Register r("jpeg", &runJpeg);` in the group's file.
struct Register {
    Register(const std::string& name, Group run) { groups()[name] = std::move(run); }
};

// Milliseconds of one call of fn.
template <typename F> double timeMs(F&& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace zantrel::bench

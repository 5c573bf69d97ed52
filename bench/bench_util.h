// Small helpers shared by the benchmark programs: a monotonic clock, order
// statistics over samples, and file listing and reading.
//
// Main thread of each benchmark program. Times are milliseconds (double).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace bench {

inline double nowMs() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

// Runs work repeatedly until about minMs have passed; the time of one run.
template <typename Work> double timePerRun(Work work, double minMs) {
    int repeats = 0;
    const double start = nowMs();
    double elapsed = 0.0;
    do {
        work();
        repeats++;
        elapsed = nowMs() - start;
    } while (elapsed < minMs);
    return elapsed / repeats;
}

// The q-quantile (0..1) of the samples by nearest rank; 0 for none.
inline double quantile(std::vector<double> samples, double q) {
    if (samples.empty()) {
        return 0.0;
    }
    std::sort(samples.begin(), samples.end());
    size_t rank = static_cast<size_t>(q * static_cast<double>(samples.size()) + 0.5);
    if (rank > 0) {
        rank--;
    }
    return samples[std::min(rank, samples.size() - 1)];
}

inline double median(const std::vector<double>& samples) {
    if (samples.empty()) {
        return 0.0;
    }
    std::vector<double> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : 0.5 * (sorted[n / 2 - 1] + sorted[n / 2]);
}

inline double mean(const std::vector<double>& samples) {
    double sum = 0.0;
    for (double s : samples) {
        sum += s;
    }
    return samples.empty() ? 0.0 : sum / static_cast<double>(samples.size());
}

inline bool readFile(const std::string& path, std::vector<unsigned char>& out) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        return false;
    }
    out.clear();
    unsigned char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        out.insert(out.end(), buffer, buffer + got);
    }
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

inline bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Regular files under dir (recursively) accepted by keep(name), sorted so
// that every run visits them in the same order.
template <typename Keep>
void listFiles(const std::string& dir, Keep keep, std::vector<std::string>& out) {
    DIR* handle = opendir(dir.c_str());
    if (!handle) {
        return;
    }
    std::vector<std::string> found;
    while (dirent* entry = readdir(handle)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::string path = dir + "/" + name;
        if (isDirectory(path)) {
            listFiles(path, keep, found);
        } else if (keep(name)) {
            found.push_back(path);
        }
    }
    closedir(handle);
    std::sort(found.begin(), found.end());
    out.insert(out.end(), found.begin(), found.end());
}

inline std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

inline bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace bench

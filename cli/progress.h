// Messages and the progress bar on standard error. Messages from parallel conversions must
// not tear each other or the bar, so every line goes through here.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace cli {

// One line of the bar, at most `width` characters: "[#####-----]  45%  3/10 files  1.2/2.5 GiB".
std::string renderBar(uint64_t done, uint64_t total, size_t filesDone, size_t files, size_t width);

// A byte count for people: "512 B", "1.5 KiB", "2.0 GiB".
std::string humanSize(uint64_t bytes);

class Reporter {
  public:
    // The bar shows only when standard error is a terminal, not quiet, and the work is large.
    Reporter(bool quiet, bool terminal, uint64_t totalBytes, size_t files);

    // A line on standard error; the bar is cleared first and drawn again after.
    void message(const std::string &line);
    // Like message, but silenced by --quiet.
    void note(const std::string &line);
    // Payload bytes converted since the last call; draws at most a few times a second.
    void advance(uint64_t bytes);
    void fileDone();
    // Removes the bar for good.
    void finish();

    static constexpr uint64_t kBarThreshold = uint64_t(32) << 20;

  private:
    void drawLocked(bool force);
    void clearLocked();

    const bool m_quiet;
    const bool m_showBar;
    const uint64_t m_total;
    const size_t m_files;
    std::atomic<uint64_t> m_done{0};
    std::atomic<size_t> m_filesDone{0};
    std::mutex m_mutex;
    bool m_barDrawn = false;
    bool m_finished = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

} // namespace cli

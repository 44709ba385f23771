#include "progress.h"

#include <algorithm>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace cli {
namespace {

size_t terminalWidth() {
    struct winsize ws {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 20)
        return ws.ws_col;
    return 80;
}

void writeAll(const std::string &text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

} // namespace

std::string humanSize(uint64_t bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    static const char *const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = double(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string renderBar(uint64_t done, uint64_t total, size_t filesDone, size_t files, size_t width) {
    done = std::min(done, total);
    const unsigned percent = total ? unsigned(done * 100 / total) : 100;
    std::string tail = "  " + std::to_string(percent) + "%";
    if (files > 1)
        tail += "  " + std::to_string(filesDone) + "/" + std::to_string(files) + " files";
    tail += "  " + humanSize(done) + " of " + humanSize(total);
    // The bar takes what the figures leave, but never fewer than ten cells.
    const size_t cells =
        width > tail.size() + 12 ? std::min<size_t>(width - tail.size() - 2, 50) : 10;
    const size_t filled = total ? size_t(double(cells) * double(done) / double(total)) : cells;
    // Built by appending: g++ 12 reports a false overlap for "literal" + std::string here.
    std::string line;
    line.reserve(cells + 2 + tail.size());
    line.append(1, '[').append(filled, '#').append(cells - filled, '-').append(1, ']');
    line += tail;
    if (line.size() > width)
        line.resize(width);
    return line;
}

Reporter::Reporter(bool quiet, bool terminal, uint64_t totalBytes, size_t files)
    : m_quiet(quiet), m_showBar(!quiet && terminal && totalBytes >= kBarThreshold),
      m_total(totalBytes), m_files(files) {}

void Reporter::message(const std::string &line) {
    std::lock_guard lock(m_mutex);
    clearLocked();
    writeAll(line + "\n");
    drawLocked(true);
}

void Reporter::note(const std::string &line) {
    if (!m_quiet)
        message(line);
}

void Reporter::advance(uint64_t bytes) {
    m_done.fetch_add(bytes, std::memory_order_relaxed);
    if (!m_showBar)
        return;
    // A conversion never waits for the terminal: when another thread draws, skip this turn.
    std::unique_lock lock(m_mutex, std::try_to_lock);
    if (lock.owns_lock())
        drawLocked(false);
}

void Reporter::fileDone() {
    m_filesDone.fetch_add(1, std::memory_order_relaxed);
    if (!m_showBar)
        return;
    std::lock_guard lock(m_mutex);
    drawLocked(true);
}

void Reporter::finish() {
    std::lock_guard lock(m_mutex);
    clearLocked();
    m_finished = true;
}

void Reporter::drawLocked(bool force) {
    if (!m_showBar || m_finished)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && m_barDrawn && now - m_lastDraw < std::chrono::milliseconds(100))
        return;
    m_lastDraw = now;
    const size_t width = terminalWidth() - 1;
    std::string text(1, '\r');
    text += renderBar(m_done.load(), m_total, m_filesDone.load(), m_files, width);
    text += "\x1b[K";
    writeAll(text);
    m_barDrawn = true;
}

void Reporter::clearLocked() {
    if (m_barDrawn) {
        writeAll("\r\x1b[K");
        m_barDrawn = false;
    }
}

} // namespace cli

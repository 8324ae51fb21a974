#include "terminal.hpp"

#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QChar>
#include <QList>
#include <QString>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <system_error>

namespace plovik::cli::terminal {

namespace {

constexpr std::size_t secretLimit = 65536;  // far above any key; the core refuses long ones

int widthOf(char32_t c) {
    if (QChar::category(c) == QChar::Mark_NonSpacing || QChar::category(c) == QChar::Mark_Enclosing)
        return 0;
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x1F680 && c <= 0x1F6FF) || (c >= 0x1F900 && c <= 0x1FAFF) ||
                      (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// The terminal's settings while echo is off, so that an interrupt restores them before the
// program ends.
struct termios savedSettings;
volatile sig_atomic_t echoOff = 0;

void restoreAndDie(int signal) {
    if (echoOff) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedSettings);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

std::optional<std::string> readSecretFromTerminal(std::string_view prompt) {
    std::cerr << prompt << std::flush;
    if (::tcgetattr(STDIN_FILENO, &savedSettings) != 0) return std::nullopt;
    struct termios quiet = savedSettings;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(signal, restoreAndDie);
    // Stopped (Ctrl+Z) with echo off, the shell would restore the terminal, and on "fg" the rest
    // of the key would show: a stop waits until the key is read and echo is back.
    sigset_t stops, before;
    sigemptyset(&stops);
    for (int signal : {SIGTSTP, SIGTTIN, SIGTTOU}) sigaddset(&stops, signal);
    ::sigprocmask(SIG_BLOCK, &stops, &before);
    echoOff = 1;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedSettings);
    echoOff = 0;
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(signal, SIG_DFL);
    std::cerr << '\n';
    if (!read || line.empty()) return std::nullopt;
    return line;
}

}  // namespace

bool isTerminal(int descriptor) {
    return ::isatty(descriptor) == 1;
}

std::optional<int> columns() {
    struct winsize size {};
    if (!isTerminal(STDOUT_FILENO) || ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 ||
        size.ws_col == 0)
        return std::nullopt;
    return size.ws_col;
}

bool colours() {
    const char* term = std::getenv("TERM");
    // NO_COLOR counts only when it is set to something (no-color.org): NO_COLOR= is as unset.
    const char* noColor = std::getenv("NO_COLOR");
    return isTerminal(STDOUT_FILENO) && (noColor == nullptr || *noColor == '\0') &&
           term != nullptr && std::string_view(term) != "dumb";
}

std::string fitted(std::string_view text, int width) {
    const QList<uint> characters = QString::fromUtf8(text.data(), std::ssize(text)).toUcs4();
    int whole = 0;
    for (const uint c : characters) whole += widthOf(c);
    if (whole <= width) return std::string(text);
    std::u32string kept;
    int used = 0;
    for (const uint c : characters) {
        if (used + widthOf(c) > width - 1) break;  // one column stays for the ellipsis
        used += widthOf(c);
        kept.push_back(static_cast<char32_t>(c));
    }
    return QString::fromUcs4(kept.data(), std::ssize(kept)).toStdString() + "…";
}

namespace {

// Characters a terminal must not be handed as they are: C0 controls and DEL, C1 controls, the
// bidirectional controls and marks (which reorder or hide what the terminal shows), and the
// invisible characters that make two texts look the same (zero-width space, byte-order mark)
// or break a line where none is seen (the Unicode line and paragraph separators). The zero-width
// joiners stay: emoji sequences and several scripts need them.
bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200B || c == 0x200E ||
           c == 0x200F || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0xFEFF;
}

// The length of such a character at `at`; 0 for anything else (bytes that are not UTF-8
// included: they pass as they are, and the terminal shows its own replacement).
std::size_t controlAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) -> char32_t {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    const auto continuation = [&](std::size_t i) { return (byte(i) & 0xC0) == 0x80; };
    const char32_t lead = byte(at);
    if (lead < 0x80) return isControl(lead) ? 1 : 0;
    if ((lead & 0xE0) == 0xC0 && continuation(at + 1))
        return isControl(((lead & 0x1F) << 6) | (byte(at + 1) & 0x3F)) ? 2 : 0;
    if ((lead & 0xF0) == 0xE0 && continuation(at + 1) && continuation(at + 2)) {
        const char32_t c =
            ((lead & 0x0F) << 12) | ((byte(at + 1) & 0x3F) << 6) | (byte(at + 2) & 0x3F);
        return isControl(c) ? 3 : 0;
    }
    return 0;
}

// `text` with each control replaced by `replacement`.
std::string replacingControls(std::string_view text, char replacement) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (const std::size_t length = controlAt(text, at)) {
            out.push_back(replacement);
            at += length;
        } else {
            out.push_back(text[at++]);
        }
    }
    return out;
}

}  // namespace

std::string printable(std::string_view text) {
    return replacingControls(text, '?');
}

std::string oneLine(std::string_view text) {
    std::string line;
    for (const char c : replacingControls(text, ' ')) {
        if (c != ' ' || (!line.empty() && line.back() != ' ')) line.push_back(c);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

std::string readAtMost(int descriptor, std::size_t limit) {
    std::string all;
    char buffer[65536];
    while (all.size() <= limit) {
        const ssize_t got =
            ::read(descriptor, buffer, std::min(sizeof buffer, limit + 1 - all.size()));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw std::system_error(errno, std::generic_category());
        if (got == 0) break;
        all.append(buffer, static_cast<std::size_t>(got));
    }
    return all;
}

std::optional<std::string> readSecret(std::string_view prompt) {
    if (isTerminal(STDIN_FILENO)) return readSecretFromTerminal(prompt);
    std::string all;
    try {
        all = readAtMost(STDIN_FILENO, secretLimit);
    } catch (const std::system_error&) {
        return std::nullopt;  // unreadable input is no key
    }
    while (!all.empty() && (all.back() == '\n' || all.back() == '\r')) all.pop_back();
    if (all.empty()) return std::nullopt;
    return all;
}

Progress::Progress(std::string text) : m_text(std::move(text)) {
    if (!isTerminal(STDERR_FILENO)) return;
    m_spinner = std::thread([this] {
        static constexpr std::array<const char*, 4> frames{"|", "/", "-", "\\"};
        for (std::size_t frame = 0; !m_done; ++frame) {
            std::fprintf(stderr, "\r%s %s", frames[frame % frames.size()], m_text.c_str());
            std::fflush(stderr);
            std::this_thread::sleep_for(std::chrono::milliseconds(120));
        }
    });
}

Progress::~Progress() {
    if (!m_spinner.joinable()) return;
    m_done = true;
    m_spinner.join();
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
}

}  // namespace plovik::cli::terminal

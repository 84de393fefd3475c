#include "platform/CrashSignalHandler.h"

#include "platform/Bundle.h"
#include "platform/Host.h"
#include "platform/Volume.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};
constexpr int kMaxFrames = 128;
constexpr char kStars[] = "**********\n";

// Everything the handler needs, prepared while installing. Fixed buffers,
// because the handler may not allocate.
int g_folder = -1;          // the reports folder, opened through the volume door
char g_appName[256];
char g_processName[256];    // the executable's file name
char g_host[256];
char g_header[8192];        // the report's fixed lines after "Process:"
std::atomic<int> g_utcOffset{0};

char g_exceptionName[512];
char g_exceptionReason[2048];
std::atomic<bool> g_exceptionNoted{false};

std::atomic<long> g_crashingThread{0};
alignas(16) char g_alternateStack[64 * 1024];

// Copies as much as fits and always terminates.
void copyText(char *to, std::size_t size, const char *from)
{
    std::size_t i = 0;
    for (; from && from[i] && i + 1 < size; ++i)
        to[i] = from[i];
    to[i] = '\0';
}

// Characters that cannot stand in a file name become "_".
QByteArray fileNamePart(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('/', '_');
    return bytes;
}

// A small buffer writer for the handler: text and numbers, no allocation.
class Writer
{
public:
    explicit Writer(char *buffer, std::size_t size) : m_buffer(buffer), m_size(size) { m_buffer[0] = '\0'; }

    Writer &text(const char *s)
    {
        while (s && *s && m_length + 1 < m_size)
            m_buffer[m_length++] = *s++;
        m_buffer[m_length] = '\0';
        return *this;
    }
    // Decimal, at least `width` digits with leading zeros.
    Writer &number(long long value, int width = 1)
    {
        char digits[24];
        int n = 0;
        const bool negative = value < 0;
        unsigned long long v = negative ? 0ULL - static_cast<unsigned long long>(value)
                                        : static_cast<unsigned long long>(value);
        do {
            digits[n++] = char('0' + v % 10);
            v /= 10;
        } while (v && n < 20);
        while (n < width && n < 20)
            digits[n++] = '0';
        if (negative)
            text("-");
        char out[24];
        for (int i = 0; i < n; ++i)
            out[i] = digits[n - 1 - i];
        out[n] = '\0';
        return text(out);
    }
    Writer &hex(unsigned long long value)
    {
        char out[19] = "0x";
        for (int i = 0; i < 16; ++i)
            out[2 + i] = "0123456789abcdef"[(value >> (60 - 4 * i)) & 0xf];
        out[18] = '\0';
        return text(out);
    }
    const char *data() const { return m_buffer; }
    std::size_t length() const { return m_length; }

private:
    char *m_buffer;
    std::size_t m_size;
    std::size_t m_length = 0;
};

// The civil date of a day count since 1970-01-01 (Howard Hinnant's
// days-to-civil), in integers only, for the handler.
void civilFromDays(long long days, long long *year, int *month, int *day)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    *day = int(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    *month = int(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

struct Moment
{
    long long year;
    int month, day, hour, minute, second;
};

Moment localMoment(long long seconds, int utcOffset)
{
    const long long local = seconds + utcOffset;
    long long days = local / 86400;
    long long rest = local % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    Moment m{};
    civilFromDays(days, &m.year, &m.month, &m.day);
    m.hour = int(rest / 3600);
    m.minute = int(rest / 60 % 60);
    m.second = int(rest % 60);
    return m;
}

// "yyyy-MM-dd-HHmmss", the moment as a file name shows it.
void writeFileStamp(Writer &w, const Moment &m)
{
    w.number(m.year, 4).text("-").number(m.month, 2).text("-").number(m.day, 2).text("-");
    w.number(m.hour, 2).number(m.minute, 2).number(m.second, 2);
}

void writeFileName(Writer &w, const char *appName, const Moment &m, int duplicate, const char *host)
{
    w.text(appName).text("_");
    writeFileStamp(w, m);
    if (duplicate > 0)
        w.text("-").number(duplicate);
    w.text("_").text(host).text(".crash");
}

const char *signalName(int signal)
{
    switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGABRT: return "SIGABRT";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    default: return "signal";
    }
}

void writeAll(int fd, const char *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        length -= std::size_t(n);
    }
}

void writeText(int fd, const char *text)
{
    writeAll(fd, text, std::strlen(text));
}

int openReport(const Moment &m)
{
    for (int duplicate = 0; duplicate < 10; ++duplicate) {
        char name[1024];
        Writer w(name, sizeof name);
        writeFileName(w, g_appName, m, duplicate, g_host);
        const int fd = ::openat(g_folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void copyMemoryMap(int fd)
{
    const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(maps, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        writeAll(fd, buffer, std::size_t(n));
    }
    ::close(maps);
}

void writeReport(int fd, int signal, const siginfo_t *info, long thread, long long seconds, long nanoseconds)
{
    const Moment m = localMoment(seconds, g_utcOffset.load());
    const int offset = g_utcOffset.load();
    const int offsetMinutes = (offset < 0 ? -offset : offset) / 60;

    char line[1024];
    writeText(fd, kStars);
    writeText(fd, "\n");
    Writer process(line, sizeof line);
    process.text("Process:               ").text(g_processName).text(" [").number(::getpid()).text("]\n");
    writeText(fd, process.data());
    writeText(fd, g_header);

    Writer date(line, sizeof line);
    date.text("Date/Time:             ").number(m.year, 4).text("-").number(m.month, 2).text("-").number(m.day, 2);
    date.text(" ").number(m.hour, 2).text(":").number(m.minute, 2).text(":").number(m.second, 2).text(".");
    date.number(nanoseconds / 1000000, 3).text(offset < 0 ? " -" : " +");
    date.number(offsetMinutes / 60, 2).number(offsetMinutes % 60, 2).text("\n\n");
    writeText(fd, date.data());

    Writer crash(line, sizeof line);
    crash.text("Crashed Thread:        ").number(thread).text("\n\n");
    crash.text("Exception Type:        ").text(signalName(signal)).text("\n");
    crash.text("Exception Codes:       code ").number(info ? info->si_code : 0).text(" at ");
    crash.hex(info ? reinterpret_cast<unsigned long long>(info->si_addr) : 0).text("\n\n");
    writeText(fd, crash.data());

    if (g_exceptionNoted.load()) {
        writeText(fd, "Application Specific Information:\n*** Terminating app due to uncaught exception '");
        writeText(fd, g_exceptionName);
        writeText(fd, "', reason: '");
        writeText(fd, g_exceptionReason);
        writeText(fd, "'\n\n");
    }

    Writer frameTitle(line, sizeof line);
    frameTitle.text("Thread ").number(thread).text(" Crashed:\n");
    writeText(fd, frameTitle.data());
    void *frames[kMaxFrames];
    const int count = ::backtrace(frames, kMaxFrames);
    ::backtrace_symbols_fd(frames, count, fd);

    writeText(fd, "\nBinary Images:\n");
    copyMemoryMap(fd);
}

void crashHandler(int signal, siginfo_t *info, void *)
{
    const long self = ::syscall(SYS_gettid);
    long expected = 0;
    if (!g_crashingThread.compare_exchange_strong(expected, self) && expected != self) {
        // Another thread is writing its report; the process ends when it
        // raises its signal again. Give it time, then die of ours.
        for (int i = 0; i < 100; ++i) {
            const timespec pause{0, 100 * 1000 * 1000};
            ::nanosleep(&pause, nullptr);
        }
    } else if (expected == 0) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const int fd = openReport(localMoment(now.tv_sec, g_utcOffset.load()));
        if (fd >= 0) {
            writeReport(fd, signal, info, self, now.tv_sec, now.tv_nsec);
            ::close(fd);
        }
    }
    // A crash inside the handler itself (expected == self) comes straight
    // here and dies without writing again.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

int currentUtcOffset()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!::localtime_r(&now, &local))
        return 0;
    return int(local.tm_gmtoff);
}

QByteArray headerLines()
{
    const platform::Bundle &bundle = platform::Bundle::main();
    const QString path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                      : QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    QByteArray header;
    header += "Path:                  " + path.toUtf8() + '\n';
    header += "Identifier:            " + bundle.identifier().toUtf8() + '\n';
    header += "Version:               "
        + bundle.infoValue(QStringLiteral("CFBundleShortVersionString")).toString().toUtf8() + " ("
        + bundle.infoValue(QStringLiteral("CFBundleVersion")).toString().toUtf8() + ")\n";
    header += "OS Version:            " + platform::Host::operatingSystemVersion().toUtf8() + '\n';
    header += "Hardware Model:        " + platform::Host::machineModel().toUtf8() + '\n';
    return header;
}

} // namespace

QString crashReportFileName(const QString &appName, qint64 seconds, int utcOffsetSeconds, const QString &host)
{
    char buffer[2048];
    Writer w(buffer, sizeof buffer);
    writeFileName(w, fileNamePart(appName).constData(), localMoment(seconds, utcOffsetSeconds), 0,
                  fileNamePart(host).constData());
    return QString::fromUtf8(w.data(), qsizetype(w.length()));
}

void noteUncaughtExceptionForCrashReport(const QByteArray &name, const QByteArray &reason)
{
    g_exceptionNoted.store(false);
    copyText(g_exceptionName, sizeof g_exceptionName, name.constData());
    copyText(g_exceptionReason, sizeof g_exceptionReason, reason.constData());
    g_exceptionNoted.store(true);
}

void installCrashSignalHandlers()
{
    // The folder is made and opened now, through the volume door: a handler
    // may not resolve paths, and a link on the volume must not steer the
    // report off it.
    const std::shared_ptr<const Volume> volume = Volume::current();
    const LogicalPath folder = volume->home().child(u"Library/Logs/DiagnosticReports");
    volume->makeFolders(folder);
    if (g_folder >= 0)
        ::close(g_folder);
    g_folder = volume->openDescriptor(folder, O_PATH | O_DIRECTORY);
    copyText(g_appName, sizeof g_appName,
             fileNamePart(platform::Bundle::main().infoValue(QStringLiteral("CFBundleName")).toString()).constData());
    // The Mac names reports after the short host name.
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    copyText(g_host, sizeof g_host,
             fileNamePart(QString::fromUtf8(host).section(QLatin1Char('.'), 0, 0)).constData());
    copyText(g_header, sizeof g_header, headerLines().constData());
    copyText(g_processName, sizeof g_processName,
             QFile::encodeName(QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName()).constData());
    g_utcOffset.store(currentUtcOffset());

    // The first backtrace loads the unwinder, which allocates; do it now.
    void *frames[4];
    ::backtrace(frames, 4);

    // A stack overflow leaves no stack for the handler; the main thread gets
    // a spare one.
    stack_t spare{};
    spare.ss_sp = g_alternateStack;
    spare.ss_size = sizeof g_alternateStack;
    ::sigaltstack(&spare, nullptr);

    struct sigaction action {};
    action.sa_sigaction = crashHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

} // namespace platform

// The launchd stand-in on Linux. The daemon is executed through a
// descriptor of the installed tool opened by the door, never by a path
// string: the volume's links must not steer what root runs. Processes are
// signalled through pidfds, so a process id reused meanwhile is never hit.

#include "platform/DaemonJob.h"

#include "platform/BootUnit.h"
#include "platform/PropertyList.h"
#include "platform/ReadLimits.h"
#include "platform/Volume.h"
#include "platform/linux/Proc.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace platform::DaemonJob {

namespace {

constexpr int kStartMilliseconds = 10000;   // until the socket must answer
constexpr int kTermMilliseconds = 5000;     // SIGTERM's grace before SIGKILL
constexpr int kKillMilliseconds = 2000;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether the process runs this job's tool for this volume, by its
// arguments: the installed tool's logical path first, then "--root" and the
// volume root.
bool isOurs(qint64 pid, const Places &places)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> arguments = file.readAll().split('\0');
    const qsizetype root = arguments.indexOf(QByteArrayLiteral("--root"));
    return arguments.first() == QFile::encodeName(places.tool.toString()) && root > 0
           && root + 1 < arguments.size() && arguments.at(root + 1) == QFile::encodeName(Volume::current()->canonicalRoot());
}

QList<qint64> processesOfJob(const Places &places)
{
    QList<qint64> found;
    for (qint64 pid : Proc::processIds()) {
        if (pid != ::getpid() && isOurs(pid, places))
            found.append(pid);
    }
    return found;
}

// What the forked processes tell the installer through the pipe.
struct Report
{
    int daemonPid = 0;   // from the first child
    int execError = 0;   // from the daemon, when it could not be executed
};

// Forks twice so that the daemon belongs to no one's session or process
// group and is reaped by the system, not by us. Between fork and exec only
// async-signal-safe calls are made.
[[noreturn]] void runDetached(int tool, int pipeWrite, char *const argv[], char *const envp[])
{
    ::setsid();
    const pid_t daemon = ::fork();
    if (daemon != 0) {
        const Report report{daemon > 0 ? int(daemon) : 0, daemon > 0 ? 0 : errno};
        (void)!::write(pipeWrite, &report, sizeof report);
        ::_exit(0);
    }
    struct sigaction standard{};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        ::sigaction(signal, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::umask(022);
    (void)!::chdir("/");
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd)
        ::dup2(null, fd);
    // Everything else the installer had open ends at exec (closed now where
    // the kernel is older than 5.11).
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd < 65536; ++fd) {
            if (fd != tool && fd != pipeWrite)
                ::close(fd);
        }
    }
    ::execveat(tool, "", argv, envp, AT_EMPTY_PATH);
    const Report report{0, errno};
    (void)!::write(pipeWrite, &report, sizeof report);
    ::_exit(127);
}

// Starts the job's program; the daemon's pidfd, or -1 with *error. A
// "KeepAlive" job's tool is told so by "--keep-alive" after its path: it
// then keeps itself running as launchd would (see src/helper/KeepAlive.h).
int start(const QVariantMap &job, QString *error)
{
    QStringList programArguments = job.value(QStringLiteral("ProgramArguments")).toStringList();
    if (!programArguments.isEmpty() && job.value(QStringLiteral("KeepAlive")).toBool())
        programArguments.insert(1, QStringLiteral("--keep-alive"));
    if (programArguments.isEmpty()) {
        setError(error, QStringLiteral("the job has no ProgramArguments"));
        return -1;
    }
    const std::optional<LogicalPath> program = volumePath(programArguments.first());
    const int tool = program ? Volume::current()->openDescriptor(*program, O_PATH | O_NOFOLLOW) : -1;
    struct stat st;
    if (tool < 0 || ::fstat(tool, &st) != 0 || !S_ISREG(st.st_mode)) {
        setError(error, QStringLiteral("%1 is no executable file").arg(programArguments.first()));
        if (tool >= 0)
            ::close(tool);
        return -1;
    }
    std::vector<QByteArray> strings;
    for (const QString &argument : programArguments)
        strings.push_back(QFile::encodeName(argument));
    const std::vector<QByteArray> environment{"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C.UTF-8"};
    std::vector<char *> argv, envp;
    for (QByteArray &s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    for (const QByteArray &s : environment)
        envp.push_back(const_cast<char *>(s.constData()));
    envp.push_back(nullptr);

    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        setError(error, systemError(errno));
        ::close(tool);
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0)
        runDetached(tool, pipe[1], argv.data(), envp.data());
    const int forkError = errno;
    ::close(pipe[1]);
    ::close(tool);
    if (child < 0) {
        ::close(pipe[0]);
        setError(error, systemError(forkError));
        return -1;
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    // Until the daemon's exec has closed the pipe, or it reported why not.
    Report got;
    Report report;
    ssize_t size = 0;
    while (Proc::readable(pipe[0], kStartMilliseconds)
           && ((size = ::read(pipe[0], &report, sizeof report)) == sizeof report || (size < 0 && errno == EINTR))) {
        if (size == sizeof report) {
            got.daemonPid = report.daemonPid ? report.daemonPid : got.daemonPid;
            got.execError = report.execError ? report.execError : got.execError;
        }
    }
    ::close(pipe[0]);
    if (got.execError != 0 || got.daemonPid == 0) {
        setError(error, QStringLiteral("cannot start %1: %2")
                            .arg(program->toString(), got.execError ? systemError(got.execError)
                                                                   : QStringLiteral("no process could be made")));
        return -1;
    }
    const int pidfd = Proc::pidfdOpen(got.daemonPid);
    if (pidfd < 0)
        setError(error, QStringLiteral("%1 ended at once").arg(program->toString()));
    return pidfd;
}

bool writeJob(const Places &places, const QVariantMap &job, QString *error)
{
    const QByteArray data = PropertyList::toData(job, PropertyList::Format::Xml);
    if (data.isEmpty()) {
        setError(error, QStringLiteral("the job cannot be written as a property list"));
        return false;
    }
    return Volume::current()->writeFile(places.jobList, data, error);
}

} // namespace

QVariantMap jobDictionary(const Places &places, const Served &served)
{
    const QString root = Volume::current()->canonicalRoot();
    return {{QStringLiteral("Label"), places.label},
            {QStringLiteral("ProgramArguments"),
             QVariantList{places.tool.toString(), QStringLiteral("--root"), root, QStringLiteral("--serve-uid"),
                          QString::number(served.user), QStringLiteral("--home"), served.home.toString()}},
            {QStringLiteral("MachServices"), QVariantMap{{places.label, true}}},
            {QStringLiteral("RunAtLoad"), true},
            {QStringLiteral("KeepAlive"), true},
            {served.rootKey, root},
            {served.userKey, qint64(served.user)},
            {served.homeKey, served.home.toString()}};
}

namespace {
bool startAndWait(const Places &places, const QVariantMap &job, QString *error);
} // namespace

bool install(const Places &places, const QByteArray &tool, const QVariantMap &job, QString *error)
{
    stop(places);
    for (const LogicalPath &folder : {places.tool.parent(), places.jobList.parent(), places.socket.parent(),
                                      places.pidFile.parent()}) {
        if (!Volume::current()->makeFolders(folder, error))
            return false;
    }
    if (!Volume::current()->writeFile(places.tool, tool, error, 0755) || !writeJob(places, job, error))
        return false;
    if (startAndWait(places, job, error)) {
        // The job starts at the next boot too, where systemd can be told so.
        // A unit that cannot be written costs only a password after a
        // restart: the job itself runs.
        if (BootUnit::systemdRunsTheMachine()) {
            if (const std::shared_ptr<const Volume> host = Volume::open(QStringLiteral("/"), QString()))
                BootUnit::install(*host, job, tool);
        }
        return true;
    }
    // Nothing half-installed stays behind to pass for a working job.
    remove(places, nullptr);
    return false;
}

bool launch(const Places &places, QString *error)
{
    const std::optional<QVariantMap> job = PropertyList::readDictionary(places.jobList, ReadLimit::kJob);
    if (!job) {
        setError(error, QStringLiteral("the job %1 cannot be read").arg(places.jobList.toString()));
        return false;
    }
    stop(places);
    return startAndWait(places, *job, error);
}

namespace {

bool startAndWait(const Places &places, const QVariantMap &job, QString *error)
{
    const int pidfd = start(job, error);
    bool answered = false;
    if (pidfd >= 0) {
        QElapsedTimer clock;
        clock.start();
        // Up once the socket answers and the service has written its pid
        // file: a keeper's socket answers before its service runs. Each wait
        // for the daemon's end is also the pause between tries.
        while (!(answered = answers(places) && runningPid(places)) && clock.elapsed() < kStartMilliseconds
               && !Proc::readable(pidfd, 10)) {
        }
        if (!answered)
            setError(error, Proc::readable(pidfd, 0)
                                ? QStringLiteral("%1 ended before it answered").arg(places.tool.toString())
                                : QStringLiteral("%1 did not answer in time").arg(places.tool.toString()));
        ::close(pidfd);
    }
    return answered;
}

} // namespace

namespace {

// Signals the job's processes found now and waits for each to end.
bool stopFound(const Places &places)
{
    QList<qint64> pids = processesOfJob(places);
    if (const std::optional<qint64> listed = runningPid(places); listed && !pids.contains(*listed))
        pids.append(*listed);
    std::vector<int> pidfds;
    for (qint64 pid : std::as_const(pids)) {
        const int pidfd = Proc::pidfdOpen(pid);
        // Checked again through the pidfd's process, which cannot change.
        if (pidfd >= 0 && isOurs(pid, places) && Proc::pidfdSignal(pidfd, SIGTERM))
            pidfds.push_back(pidfd);
        else if (pidfd >= 0)
            ::close(pidfd);
    }
    bool stopped = true;
    for (int pidfd : pidfds) {
        if (!Proc::readable(pidfd, kTermMilliseconds)) {
            Proc::pidfdSignal(pidfd, SIGKILL);
            stopped = Proc::readable(pidfd, kKillMilliseconds) && stopped;
        }
        ::close(pidfd);
    }
    return stopped;
}

} // namespace

bool stop(const Places &places)
{
    // A keeper that saw its service end before its own signal came may have
    // started a new one meanwhile: look again until none of the job is left,
    // so that a caller told "stopped" finds nothing running.
    for (int round = 0; round < 5; ++round) {
        if (!stopFound(places))
            return false;
        if (processesOfJob(places).isEmpty())
            return true;
    }
    return false;
}

bool remove(const Places &places, QString *error)
{
    if (BootUnit::systemdRunsTheMachine()) {
        const std::optional<QVariantMap> job = PropertyList::readDictionary(places.jobList, ReadLimit::kJob);
        const std::shared_ptr<const Volume> host = Volume::open(QStringLiteral("/"), QString());
        if (job && host)
            BootUnit::remove(*host, *job);
    }
    const bool stopped = stop(places);
    for (const LogicalPath &path : {places.jobList, places.tool, places.socket, places.pidFile})
        Volume::current()->removeItem(path);
    const bool gone = !Volume::current()->status(places.jobList, Follow::NotFinal) && !Volume::current()->status(places.tool, Follow::NotFinal);
    if (!gone)
        setError(error, QStringLiteral("the job or its tool cannot be removed"));
    else if (!stopped)
        setError(error, QStringLiteral("the daemon did not stop"));
    return gone && stopped;
}

bool answers(const Places &places)
{
    const int fd = Volume::current()->connectToSocket(places.socket);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::optional<qint64> runningPid(const Places &places)
{
    const std::optional<QByteArray> text = Volume::current()->readFile(places.pidFile, 64);
    bool numeric = false;
    const qint64 pid = text ? text->trimmed().toLongLong(&numeric) : 0;
    if (!numeric || pid <= 0 || !isOurs(pid, places))
        return std::nullopt;
    return pid;
}

} // namespace platform::DaemonJob

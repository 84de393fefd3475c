#include "kestrum/Log.h"

#include "platform/Bundle.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"

#include <QDateTime>

#include <atomic>

namespace kestrum {

namespace {

constexpr int kLevels = 8;
constexpr quint32 kRingSize = 10;

// Plain counters, as on the Mac: two threads logging at the same level at
// once may share or skip a slot, which only changes which message is kept.
std::atomic<quint32> g_lastPosition[kLevels];

} // namespace

QString logRingKey(int level, int position)
{
    return makeString("kestrum_asl_lev%i_pos%i", level, position);
}

void asl_NSLog(int level, const QString &message)
{
    const int lev = level & (kLevels - 1);
    platform::SystemLog::write(lev, platform::Bundle::main().infoValue(QStringLiteral("CFBundleName")).toString(),
                               message);

    std::atomic<quint32> &position = g_lastPosition[lev];
    const quint32 slot = position.load(std::memory_order_relaxed);
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
    // A burst of lines (an uninstall's thousand folders) is written once.
    platform::UserDefaults::standard().setObjectSoon(logRingKey(lev, int(slot)),
                                                 makeString("date: %@ message: %@", stamp, message));
    position.store(slot + 1 >= kRingSize ? 0 : slot + 1, std::memory_order_relaxed);
}

} // namespace kestrum

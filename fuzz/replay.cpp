// Without libFuzzer: runs the target once on every file named on the command
// line or found in a folder named there, in name order, and says how many.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static bool replay(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return false;
    }
    const QByteArray bytes = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    return true;
}

int main(int argc, char **argv)
{
    int inputs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        QStringList paths{argument};
        if (QFileInfo(argument).isDir()) {
            paths.clear();
            const QDir folder(argument);
            for (const QString &name : folder.entryList(QDir::Files, QDir::Name))
                paths.append(folder.filePath(name));
        }
        for (const QString &path : paths) {
            ok = replay(path) && ok;
            ++inputs;
        }
    }
    std::printf("replayed %d inputs\n", inputs);
    return ok && inputs > 0 ? 0 : 1;
}

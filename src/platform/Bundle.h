#pragma once

#include <QString>
#include <QVariantMap>

#include <memory>

namespace platform {

class Volume;

// The application bundle that holds the running executable (NSBundle's main
// bundle). Bundle paths are physical paths on this machine, never on the
// volume being worked on.
class Bundle
{
public:
    static const Bundle &main();

    // A bundle read from a .app folder; an empty bundle when it has no
    // readable Contents/Info.plist.
    static Bundle fromPath(const QString &appPath);

    bool isValid() const { return !m_info.isEmpty(); }
    QString path() const { return m_path; }   // the .app folder; empty outside a bundle
    QVariantMap infoDictionary() const { return m_info; }
    QVariant infoValue(const QString &key) const { return m_info.value(key); }
    QString identifier() const { return m_info.value(QStringLiteral("CFBundleIdentifier")).toString(); }

    QString resourcesPath() const;             // Contents/Resources
    // The bundle's folder as a volume of its own, through whose door its
    // files are asked about, so that no link in it leads out of it; nothing
    // outside a bundle, or when the folder cannot be opened.
    std::shared_ptr<const Volume> door() const;
    QString privateFrameworksPath() const;     // Contents/Frameworks

private:
    QString m_path;
    QVariantMap m_info;
};

} // namespace platform

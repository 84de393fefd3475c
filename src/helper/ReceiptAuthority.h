#pragma once

#include "dorvane/catalogue/Catalogue.h"

#include <QByteArray>
#include <QStringList>

#include <memory>

namespace helpertool {

// What the volume's own receipts say, read by the tool itself, as root,
// through the volume door: the catalogue of every package on the volume,
// kept-out ones included, never the client's. It is read again only when a
// receipts folder changed since (a receipt added, removed or replaced); a
// bill rewritten in place inside the user's own receipts folder may be seen
// late, which only matters inside that user's home, where such a receipt
// is all that counts anyway.
class ReceiptAuthority
{
public:
    // The catalogue as the receipts are now.
    std::shared_ptr<const dorvane::Catalogue> catalogue();

    // The ignored folders: the fixed ones, and what the served user's own
    // setting adds. The user's list can only add protection.
    QStringList ignoredFolders() const;

private:
    QByteArray fingerprint() const;

    QByteArray m_fingerprint;
    std::shared_ptr<const dorvane::Catalogue> m_catalogue;
};

} // namespace helpertool

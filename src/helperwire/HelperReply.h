#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace helperwire {

// What the tool did with each item of a request: the reply string of every
// answer is this, as JSON, so the client reads outcomes instead of guessing
// them from texts. One letter per item, in the order of the items (r
// removed, g gone, x refused, f failed, d removed for good), and for each
// item that did not go or went for good its text, reason and errno, in the
// same order:
//
//   {"outcomes": "rgxf",
//    "failures": [{"item": "/usr/lib/x", "reason": "no package being uninstalled lists it"},
//                 {"item": "4242", "reason": "Operation not permitted", "errno": 1}],
//    "text": "Forgot package 'com.example.foo' on '/'."}
//
// A package's hundred thousand files answer with as many letters, not as
// many objects. "text" is the sentence a forget that went answers with;
// other replies leave it out.
struct ItemOutcome
{
    enum class Kind {
        Removed,   // removed (into the quarantine when the run keeps them), ended, forgotten, restored, emptied
        Gone,      // nothing was there (any more): what the client wanted
        Refused,   // the tool would not: the reason says which rule
        Failed,    // the tool tried: the reason and errno say why it failed
        // Removed, though it was to wait in the quarantine: it could not be
        // moved there, so undo cannot bring it back.
        RemovedForGood,
    };
    QString item;   // as the client sent it (a path, a pid); empty for one that went, which is not sent back
    Kind kind = Kind::Failed;
    QString reason;
    int error = 0;   // errno of a failure, 0 otherwise

    bool wentOrGone() const { return kind == Kind::Removed || kind == Kind::Gone || kind == Kind::RemovedForGood; }
    // Whether the reply names it and gives a reason.
    bool hasDetails() const { return kind != Kind::Removed && kind != Kind::Gone; }
    friend bool operator==(const ItemOutcome &, const ItemOutcome &) = default;
};

struct Reply
{
    QList<ItemOutcome> items;
    QString text;

    // The items that did not go, refused or failed, in order.
    QList<ItemOutcome> failures() const;
    // The items that went for good instead of into the quarantine.
    QStringList removedForGood() const;
    friend bool operator==(const Reply &, const Reply &) = default;
};

QString encodeReply(const Reply &reply);
// Nothing when the text is no reply of this form.
std::optional<Reply> decodeReply(QStringView text);

// The sentence of a forget that went.
QString forgotText(const QString &identifier);

} // namespace helperwire

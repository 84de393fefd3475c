#pragma once

#include <QObject>

#include <functional>

namespace kestrum {

// Owns a callable so that a control can keep it as its action target; the
// control's child, it lives exactly as long as the control does.
class BlockWrapper : public QObject
{
    Q_OBJECT

public:
    // Called with the control that sent the action.
    using Block = std::function<void(QObject *sender)>;

    explicit BlockWrapper(Block block = {}, QObject *parent = nullptr)
        : QObject(parent), m_block(std::move(block))
    {
    }

    // The wrapped callable; empty when there is none.
    const Block &block() const { return m_block; }
    // Replaces the wrapped callable.
    void setBlock(Block block) { m_block = std::move(block); }
    // Calls the block with `sender`; does nothing when the block is empty.
    void invoke(QObject *sender) const
    {
        if (m_block)
            m_block(sender);
    }

private:
    Block m_block;
};

} // namespace kestrum

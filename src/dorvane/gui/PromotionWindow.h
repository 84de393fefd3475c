#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class PromotionWindow;
}

namespace kestrum {
class RvWebView;
}

namespace dorvane {

// The maker's promotion page in a window of its own, made afresh each time
// it is opened after being closed.
class PromotionWindow : public QWidget
{
    Q_OBJECT

public:
    explicit PromotionWindow(QWidget *parent = nullptr);
    ~PromotionWindow() override;

    kestrum::RvWebView *promotionWebView() const;

private:
    std::unique_ptr<Ui::PromotionWindow> m_ui;
};

} // namespace dorvane

#include "dorvane/gui/PromotionWindow.h"

#include "ui_PromotionWindow.h"

namespace dorvane {

PromotionWindow::PromotionWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::PromotionWindow>())
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
}

PromotionWindow::~PromotionWindow() = default;

kestrum::RvWebView *PromotionWindow::promotionWebView() const
{
    return m_ui->promotionWebView;
}

} // namespace dorvane

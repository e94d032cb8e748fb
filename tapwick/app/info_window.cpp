#include "tapwick/app/info_window.hpp"

#include <QDesktopServices>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "tapwick/app/widgets.hpp"
#include "tapwick/app_info.hpp"

namespace tapwick {

InfoWindow::InfoWindow()
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setObjectName("appInfo");
  setWindowTitle("App Info");
  setFixedSize(300, 200);
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(12);
  layout->setContentsMargins(20, 20, 20, 20);
  auto* name = plainLabel(QString::fromUtf8(kAppName.data(), kAppName.size()), this);
  name->setFont(titleFont(8));
  layout->addWidget(name, 0, Qt::AlignCenter);
  for (const std::string_view text : {kVersionText, kLastUpdateText}) {
    auto* line = plainLabel(QString::fromUtf8(text.data(), text.size()), this);
    line->setWordWrap(false);  // each a line of its own, as the window is wide enough for
    layout->addWidget(line, 0, Qt::AlignCenter);
  }
  auto* contact = new QPushButton("Contact Me", this);
  layout->addWidget(contact, 0, Qt::AlignCenter);
  connect(contact, &QPushButton::clicked, this, [] {
    const QUrl url(toQString(feedbackMailURL()), QUrl::StrictMode);
    if (url.isValid()) QDesktopServices::openUrl(url);
  });
}

}  // namespace tapwick

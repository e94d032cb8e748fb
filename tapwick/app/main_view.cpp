#include "tapwick/app/main_view.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "tapwick/app/icons.hpp"
#include "tapwick/app/status_icon.hpp"
#include "tapwick/app/widgets.hpp"

namespace tapwick {

MainView::MainView(std::shared_ptr<VoduzaziService> service, std::function<void(bool)> setShowMain,
                   QWidget* parent)
    : QWidget(parent), model_(MainViewModel::create(std::move(service), std::move(setShowMain))) {
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(18);
  layout->setContentsMargins(24, 24, 24, 24);

  // The banner lies over the content rather than in the column, so nothing moves under the
  // pointer while it shows.
  banner_ = plainLabel({}, this);
  banner_->setObjectName("banner");
  banner_->setStyleSheet(
      "background: rgba(235,235,235,240); border: 1px solid rgba(128,128,128,60);"
      " border-radius: 8px; padding: 6px;");

  auto* friendCard = new QFrame(this);
  friendCard->setObjectName("friendCard");
  friendCard->setStyleSheet(
      "#friendCard { background: rgba(128,128,128,13); border: 1px solid rgba(128,128,128,38);"
      " border-radius: 16px; }");
  auto* cardLayout = new QHBoxLayout(friendCard);
  auto* symbol = new QLabel(friendCard);
  symbol->setPixmap(makeStatusIcon(QColor(40, 160, 60)).pixmap(40, 40));
  cardLayout->addWidget(symbol);
  auto* names = new QVBoxLayout();
  myName_ = plainLabel({}, friendCard);
  myName_->setObjectName("myUsername");
  myName_->setFont(headlineFont());
  connection_ = plainLabel({}, friendCard);
  connection_->setObjectName("friendUsername");
  names->addWidget(myName_);
  names->addWidget(connection_);
  cardLayout->addLayout(names, 1);
  auto* logOut = new QPushButton(friendCard);
  logOut->setObjectName("logOut");
  logOut->setIcon(logOutIcon());
  logOut->setIconSize(QSize(22, 22));
  logOut->setFlat(true);
  logOut->setToolTip("Log out");
  cardLayout->addWidget(logOut);
  layout->addWidget(friendCard);

  auto* divider = new QFrame(this);
  divider->setFrameShape(QFrame::HLine);
  layout->addWidget(divider);

  form_ = new QWidget(this);
  auto* formLayout = new QVBoxLayout(form_);
  auto* heading = plainLabel("Send Message", form_);
  heading->setFont(titleFont());
  auto* hint = plainLabel("Type and send a custom message", form_);
  hint->setFont(captionFont());
  hint->setWordWrap(false);
  message_ = new QLineEdit(form_);
  message_->setObjectName("message");
  message_->setPlaceholderText("Enter your message");
  message_->setFixedWidth(300);
  auto* send = new QPushButton(sendIcon(), "Send", form_);
  send->setObjectName("send");
  send->setDefault(true);
  for (QWidget* widget : {static_cast<QWidget*>(heading), static_cast<QWidget*>(hint),
                          static_cast<QWidget*>(message_), static_cast<QWidget*>(send)}) {
    formLayout->addWidget(widget, 0, Qt::AlignCenter);
  }
  layout->addWidget(form_);

  loading_ = new QWidget(this);
  auto* loadingLayout = new QVBoxLayout(loading_);
  auto* busy = new QProgressBar(loading_);
  busy->setRange(0, 0);
  loadingLayout->addWidget(busy);
  auto* loadingText = plainLabel("Loading connection info...", loading_);
  loadingText->setObjectName("loadingConnectionInfo");
  loadingText->setAlignment(Qt::AlignCenter);
  loadingLayout->addWidget(loadingText);
  layout->addWidget(loading_);

  error_ = errorLabel(this);
  layout->addWidget(error_);
  layout->addStretch();

  connect(message_, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_->customMessage = toStdString(text); });
  connect(send, &QPushButton::clicked, this, [this] { model_->sendCustomMessage(); });
  connect(logOut, &QPushButton::clicked, this, [this] { model_->logOut(); });
  model_->changed = [this] { render(); };
  render();
}

void MainView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The start-up steps run each time the screen is shown (the popover reopened, say), so that a
  // renamed friend shows under the new name.
  model_->start();
}

void MainView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeBanner();
}

void MainView::placeBanner() {
  // As wide as its text on one line, up to the view's width; wrapped beyond that.
  banner_->setWordWrap(false);
  const int natural = banner_->sizeHint().width();
  banner_->setWordWrap(true);
  const int width = std::min(natural, this->width() - 16);
  const int wanted = banner_->heightForWidth(width) > 0 ? banner_->heightForWidth(width)
                                                        : banner_->sizeHint().height();
  // A very long message shows its beginning: the banner never covers more than half the view.
  const int height = std::min(wanted, std::max(banner_->sizeHint().height(), this->height() / 2));
  banner_->setGeometry((this->width() - width) / 2, 8, width, height);
  banner_->raise();
}

void MainView::render() {
  myName_->setText(toQString(model_->myNameText()));
  connection_->setText(toQString(model_->connectionText()));
  form_->setVisible(model_->showsMessageForm());
  loading_->setVisible(!model_->showsMessageForm());
  if (toStdString(message_->text()) != model_->customMessage) {
    message_->setText(toQString(model_->customMessage));
  }
  banner_->setText(toQString(model_->incomingMessage.value_or("")));
  banner_->setVisible(model_->showBanner && model_->incomingMessage.has_value());
  placeBanner();
  showError(error_, model_->error);
}

}  // namespace tapwick

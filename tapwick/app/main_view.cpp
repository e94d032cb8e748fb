#include "tapwick/app/main_view.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "tapwick/app/status_icon.hpp"
#include "tapwick/app/widgets.hpp"

namespace tapwick {

MainView::MainView(std::shared_ptr<VoduzaziService> service, std::function<void(bool)> setShowMain,
                   QWidget* parent)
    : QWidget(parent), model_(MainViewModel::create(std::move(service), std::move(setShowMain))) {
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(18);
  layout->setContentsMargins(24, 24, 24, 24);

  banner_ = plainLabel({}, this);
  banner_->setObjectName("banner");
  banner_->setStyleSheet("background: rgba(128,128,128,40); border-radius: 8px; padding: 6px;");
  layout->addWidget(banner_);

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
  auto* logOut = new QPushButton(QString::fromUtf8("\u21E5"), friendCard);
  logOut->setFlat(true);
  logOut->setToolTip("Log out");
  logOut->setStyleSheet("color: red;");
  logOut->setFont(titleFont());
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
  auto* send = new QPushButton(QString::fromUtf8("\u27A4 Send"), form_);
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
  loadingLayout->addWidget(plainLabel("Loading connection info...", loading_), 0, Qt::AlignCenter);
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
  model_->start();
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
  showError(error_, model_->error);
}

}  // namespace tapwick

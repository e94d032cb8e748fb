#include "tapwick/app/connect_view.hpp"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "tapwick/app/icons.hpp"
#include "tapwick/app/widgets.hpp"

namespace tapwick {

namespace {

QWidget* card(QWidget* parent, const QString& title) {
  auto* box = new QWidget(parent);
  box->setObjectName("card");
  box->setStyleSheet("#card { background: rgba(128,128,128,13); border-radius: 12px; }");
  auto* layout = new QVBoxLayout(box);
  layout->setSpacing(10);
  auto* heading = plainLabel(title, box);
  heading->setFont(headlineFont());
  heading->setAlignment(Qt::AlignCenter);
  layout->addWidget(heading);
  return box;
}

}  // namespace

ConnectView::ConnectView(std::shared_ptr<VoduzaziService> service,
                         std::function<void(bool)> setShowMain, QWidget* parent)
    : QWidget(parent),
      model_(ConnectViewModel::create(std::move(service), std::move(setShowMain))) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  signedOut_ = plainLabel("Not logged in", this);
  signedOut_->setObjectName("notLoggedIn");
  outer->addWidget(signedOut_, 0, Qt::AlignCenter);

  content_ = new QWidget(this);
  outer->addWidget(content_);
  auto* layout = new QVBoxLayout(content_);
  layout->setSpacing(24);
  layout->setContentsMargins(24, 24, 24, 24);

  auto* signedInAs = plainLabel("Signed in as", content_);
  signedInAs->setAlignment(Qt::AlignCenter);
  email_ = plainLabel({}, content_);
  email_->setFont(headlineFont());
  email_->setAlignment(Qt::AlignCenter);
  auto* header = new QVBoxLayout();
  header->setSpacing(4);
  header->addWidget(signedInAs);
  header->addWidget(email_);
  layout->addLayout(header);

  auto* cards = new QHBoxLayout();
  cards->setSpacing(20);
  auto* invite = card(content_, "Generate Invite");
  auto* create = new QPushButton("Create Invite Code", invite);
  create->setObjectName("createInviteCode");
  invite->layout()->addWidget(create);
  auto* codeRow = new QHBoxLayout();
  codeRow->setSpacing(8);
  code_ = plainLabel({}, invite);
  code_->setObjectName("generatedCode");
  // One line, never narrower than the code: the whole code must stay readable.
  code_->setWordWrap(false);
  code_->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setPointSize(titleFont().pointSize());
  code_->setFont(mono);
  code_->setStyleSheet("background: rgba(128,128,128,38); border-radius: 6px; padding: 4px 8px;");
  code_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  copy_ = new QPushButton(invite);
  copy_->setObjectName("copyCode");
  copy_->setFlat(true);
  copy_->setToolTip("Copy code");
  copy_->setIconSize(QSize(20, 20));
  codeRow->addStretch();
  codeRow->addWidget(code_);
  codeRow->addWidget(copy_);
  codeRow->addStretch();
  static_cast<QVBoxLayout*>(invite->layout())->addLayout(codeRow);
  cards->addWidget(invite);

  auto* connect = card(content_, "Connect to Friend");
  inviteCode_ = new QLineEdit(connect);
  inviteCode_->setObjectName("inviteCode");
  inviteCode_->setPlaceholderText("Invite code");
  inviteCode_->setFixedWidth(180);
  auto* connectButton = new QPushButton("Connect", connect);
  connectButton->setObjectName("connect");
  connect->layout()->addWidget(inviteCode_);
  connect->layout()->addWidget(connectButton);
  cards->addWidget(connect);
  layout->addLayout(cards);

  error_ = errorLabel(content_);
  layout->addWidget(error_);
  auto* logOut = new QPushButton("Log Out", content_);
  logOut->setObjectName("logOut");
  logOut->setStyleSheet("color: red;");
  layout->addWidget(logOut, 0, Qt::AlignCenter);

  QObject::connect(create, &QPushButton::clicked, this, [this] { model_->generateInvite(); });
  QObject::connect(connectButton, &QPushButton::clicked, this,
                   [this] { model_->connectWithCode(); });
  QObject::connect(inviteCode_, &QLineEdit::textEdited, this,
                   [this](const QString& text) { model_->inviteCode = toStdString(text); });
  QObject::connect(copy_, &QPushButton::clicked, this, [this] {
    model_->copyCode(
        [](const std::string& code) { QGuiApplication::clipboard()->setText(toQString(code)); });
  });
  QObject::connect(logOut, &QPushButton::clicked, this, [this] { model_->logOut(); });
  model_->changed = [this] { render(); };
  render();
}

void ConnectView::render() {
  signedOut_->setVisible(!model_->isSignedIn());
  content_->setVisible(model_->isSignedIn());
  email_->setText(toQString(model_->email()));
  code_->setText(model_->generatedCode ? toQString(*model_->generatedCode) : QString());
  code_->setVisible(model_->generatedCode.has_value());
  copy_->setVisible(model_->generatedCode.has_value());
  copy_->setIcon(model_->copied ? copiedIcon() : copyIcon());
  showError(error_, model_->error);
}

}  // namespace tapwick

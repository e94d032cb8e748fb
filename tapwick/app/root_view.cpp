#include "tapwick/app/root_view.hpp"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QTabBar>
#include <QVBoxLayout>

#include "tapwick/app/connect_view.hpp"
#include "tapwick/app/main_view.hpp"
#include "tapwick/app/widgets.hpp"

namespace tapwick {

RootView::RootView(std::shared_ptr<VoduzaziService> service,
                   std::function<void(Size)> resizePopover, QWidget* parent)
    : QWidget(parent), model_(RootViewModel::create(std::move(service), std::move(resizePopover))) {
  stack_ = new QStackedLayout(this);
  loading_ = createLoading();
  forms_ = createForms();
  stack_->addWidget(loading_);
  stack_->addWidget(forms_);
  model_->changed = [this] { render(); };
  render();
  model_->handleAppear();
}

QWidget* RootView::createLoading() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  auto* busy = new QProgressBar(page);
  busy->setRange(0, 0);
  busy->setFixedWidth(160);
  layout->addStretch();
  layout->addWidget(busy, 0, Qt::AlignCenter);
  layout->addWidget(plainLabel("Loading...", page), 0, Qt::AlignCenter);
  layout->addStretch();
  return page;
}

QWidget* RootView::createForms() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setSpacing(16);
  tabs_ = new QTabBar(page);
  tabs_->addTab("Sign In");
  tabs_->addTab("Sign Up");
  tabs_->setFixedWidth(220);
  tabs_->setExpanding(true);
  layout->addWidget(tabs_, 0, Qt::AlignCenter);

  auto* form = new QVBoxLayout();
  form->setSpacing(10);
  form->setContentsMargins(20, 0, 20, 0);
  username_ = new QLineEdit(page);
  username_->setObjectName("username");
  username_->setPlaceholderText("Username");
  email_ = new QLineEdit(page);
  email_->setObjectName("email");
  email_->setPlaceholderText("Email");
  password_ = new QLineEdit(page);
  password_->setObjectName("password");
  password_->setPlaceholderText("Password");
  password_->setEchoMode(QLineEdit::Password);
  submit_ = new QPushButton(page);
  submit_->setObjectName("submit");
  error_ = errorLabel(page);
  for (QWidget* widget : {static_cast<QWidget*>(username_), static_cast<QWidget*>(email_),
                          static_cast<QWidget*>(password_), static_cast<QWidget*>(submit_),
                          static_cast<QWidget*>(error_)}) {
    form->addWidget(widget);
  }
  layout->addLayout(form);
  layout->addStretch();

  connect(tabs_, &QTabBar::currentChanged, this, [this](int tab) {
    model_->selectedTab = tab;
    render();
  });
  connect(username_, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_->username = toStdString(text); });
  connect(email_, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_->email = toStdString(text); });
  connect(password_, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_->password = toStdString(text); });
  connect(submit_, &QPushButton::clicked, this, [this] {
    if (model_->selectedTab == 0) {
      model_->submitSignIn();
    } else {
      model_->submitSignUp();
    }
  });
  return page;
}

void RootView::render() {
  using Screen = RootViewModel::Screen;
  const Screen screen = model_->screen();
  if (screen != shown_ ||
      (screen_ == nullptr && (screen == Screen::pairing || screen == Screen::messaging))) {
    if (screen_ != nullptr) {
      stack_->removeWidget(screen_);
      screen_->deleteLater();
      screen_ = nullptr;
    }
    auto setShowMain = [model = model_](bool show) { model->setShowMain(show); };
    if (screen == Screen::pairing) {
      screen_ = new ConnectView(model_->service(), setShowMain, this);
    } else if (screen == Screen::messaging) {
      screen_ = new MainView(model_->service(), setShowMain, this);
    }
    if (screen_ != nullptr) stack_->addWidget(screen_);
    shown_ = screen;
  }
  switch (screen) {
    case Screen::loading:
      stack_->setCurrentWidget(loading_);
      break;
    case Screen::signIn:
      if (stack_->currentWidget() != forms_) {
        stack_->setCurrentWidget(forms_);
        email_->setFocus();
      }
      break;
    default:
      stack_->setCurrentWidget(screen_);
  }
  const bool signUp = model_->selectedTab != 0;
  tabs_->setCurrentIndex(model_->selectedTab);
  username_->setVisible(signUp);
  submit_->setText(signUp ? "Sign Up" : "Sign In");
  showError(error_, model_->error);
}

}  // namespace tapwick

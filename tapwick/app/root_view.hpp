// RootView: the popover's content. Shows the screen the RootViewModel picks (loading, the
// sign-in and sign-up forms, pairing, messaging); the pairing and messaging screens are built
// anew each time they are shown.
#pragma once

#include <QWidget>
#include <memory>

#include "tapwick/root_view_model.hpp"

class QLabel;
class QLineEdit;
class QPushButton;
class QStackedLayout;
class QTabBar;

namespace tapwick {

class RootView : public QWidget {
 public:
  RootView(std::shared_ptr<VoduzaziService> service, std::function<void(Size)> resizePopover,
           QWidget* parent);

  RootViewModel& model() { return *model_; }

 private:
  QWidget* createLoading();
  QWidget* createForms();
  void render();

  std::shared_ptr<RootViewModel> model_;
  QStackedLayout* stack_;
  QWidget* loading_;
  QWidget* forms_;
  QWidget* screen_ = nullptr;  // the pairing or messaging screen shown
  RootViewModel::Screen shown_ = RootViewModel::Screen::loading;
  QTabBar* tabs_;
  QLineEdit* username_;
  QLineEdit* email_;
  QLineEdit* password_;
  QPushButton* submit_;
  QLabel* error_;
};

}  // namespace tapwick

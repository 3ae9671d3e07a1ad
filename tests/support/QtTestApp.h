// One QApplication for a test program, made when the tests run (listing them needs none)
// and offscreen unless a platform is chosen.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <memory>
#include <string>
#include <vector>

namespace qt_test {

class QtEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "dialog_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

// Registers the environment once per program, however many of its files include this.
inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The entries of a combo box, in order.
inline std::vector<std::string> Items(const QComboBox* box) {
  std::vector<std::string> items;
  for (int i = 0; i < box->count(); ++i) items.push_back(box->itemText(i).toStdString());
  return items;
}

}  // namespace qt_test

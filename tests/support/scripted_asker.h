// The operator's answers and file choices for window tests: questions are
// answered from a script, notices recorded, files named by the test.
#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "console/gui/asker.h"
#include "console/gui/file_chooser.h"

namespace testsupport {

// Answers questions from a script; No when the script is exhausted.
class ScriptedAsker final : public console::gui::Asker {
 public:
  std::deque<bool> answers;
  std::vector<QString> asked;    // caption + "|" + text
  std::vector<QString> notices;
  std::function<void()> whileAsking;  // runs while the question is on the screen

  bool Ask(QWidget*, const QString& caption, const QString& text) override {
    asked.push_back(caption + "|" + text);
    if (whileAsking) std::exchange(whileAsking, nullptr)();
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  void Notice(QWidget*, const QString& caption, const QString& text) override {
    notices.push_back(caption + "|" + text);
  }
};

// Chooses the files the test names; an empty name is a cancelled dialog.
class ScriptedChooser final : public console::gui::FileChooser {
 public:
  QString open, save;
  std::vector<QString> folders;  // where each dialog opened

  QString OpenFile(QWidget*, const QString& folder, const QString&) override {
    folders.push_back(folder);
    return open;
  }
  QString SaveFile(QWidget*, const QString& suggested, const QString&) override {
    folders.push_back(suggested);
    return save;
  }
};

}  // namespace testsupport

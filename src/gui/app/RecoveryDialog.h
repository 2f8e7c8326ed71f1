#pragma once
// The start-up offer of recovery files left behind by an instance that no longer runs, and the
// window that shows two texts' differences.

#include <QString>

#include <string>

class QWidget;

namespace morvane::app {

class TMainForm;
class TRecoveryService;

// Lists the files left behind (nothing when there are none) and lets the user recover, compare
// or discard each; files the user does not answer for stay for the next start.
void offerRecovery(TMainForm& form, TRecoveryService& service);

// A modal window with the line-by-line differences of before and after.
void showDifferences(QWidget* parent, const QString& title, const std::string& before,
                     const std::string& after, const std::string& beforeName,
                     const std::string& afterName);

} // namespace morvane::app

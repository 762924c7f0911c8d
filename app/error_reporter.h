// ErrorReporter: the program's one top-level handler for errors that escape
// a handler — a click, a timer tick, a packet hand-over or any other Qt
// event. It shows "An error occurred in the application." with the error's
// message, lets the user see the full report and save it to a file, and
// offers to continue (the default), restart or close. Nothing is undone or
// reset: timers, framers and the link state go on as they were.
//
// The window's texts (title, headline, buttons, the save dialog) are shown in
// the language of the main window, which lends its translation table while
// it exists; the report itself stays English, as it is read by whoever
// fixes the fault.
//
// Where errors come from: the loop's error handler (timers, posted tasks,
// hand-overs), MqApplication::notify (Qt event dispatch) and Guard(), which
// wraps the window's signal handlers so no exception crosses Qt's frames.
//
// Threading: GUI thread only (errors from other threads reach it through
// the loop's hand-over).
#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <string>

namespace mq {

class UiDialogs;

class ErrorReporter {
 public:
  enum class Choice { Continue, Restart, Close };
  static constexpr const char* kHeadline = "An error occurred in the application.";

  explicit ErrorReporter(UiDialogs& dialogs);
  ~ErrorReporter();
  ErrorReporter(const ErrorReporter&) = delete;
  ErrorReporter& operator=(const ErrorReporter&) = delete;

  // The reporter errors go to (the last one constructed and still alive).
  static ErrorReporter* Instance();
  // Reports through Instance(), or on standard error when there is none.
  static void ReportAny(std::exception_ptr error, const QString& where);

  // Shows the report and acts on the user's choice. An error raised while a
  // report is open is written to standard error instead of stacking dialogs.
  void Report(std::exception_ptr error, const QString& where);

  // The error's message ("Unknown error" for a non-standard exception).
  static QString Message(std::exception_ptr error);
  // The whole report: headline, message, where, program, version, time, system.
  static QString BuildReport(const QString& message, const QString& where);
  // Writes the report as UTF-8; false with a reason when that fails.
  static bool SaveReport(const QString& path, const QString& report, QString* error);

  // Where the window's texts come from: a function that gives an entry's text
  // in the active language, or an empty text (then English is shown). One
  // source at a time; owner identifies who set it, so that only the owner
  // clears it.
  static void SetTextSource(const void* owner, std::function<std::string(const char* entry)> source);
  static void ClearTextSource(const void* owner);
  // The text of a catalogue entry of this window, English when there is no
  // source or the source has none.
  static QString Text(const char* entry, const char* english);

  // Decides instead of the dialog (tests); gets the message and the report.
  std::function<Choice(const QString& message, const QString& report)> Presenter;
  // Closes the main window (its close handler writes the settings).
  std::function<void()> CloseProgram;
  bool RestartRequested() const { return restartRequested_; }
  int ReportCount() const { return reportCount_; }

  // Wraps a handler so that whatever it throws is reported here.
  template <class F>
  static auto Guard(F fn, const char* where) {
    return [fn = std::move(fn), where](auto&&... args) {
      try {
        fn(std::forward<decltype(args)>(args)...);
      } catch (...) {
        ReportAny(std::current_exception(), QString::fromLatin1(where));
      }
    };
  }

 private:
  Choice ShowDialog(const QString& message, const QString& report);

  UiDialogs& dialogs_;
  ErrorReporter* previous_;
  bool showing_ = false;
  bool restartRequested_ = false;
  int reportCount_ = 0;
};

}  // namespace mq

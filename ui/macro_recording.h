// The macro recorder on the window's side: a MacroRecorder fed from the program's input
// source. Recording appends what the user does to the editor's list; a capture (the insert
// commands) takes one key, click or wheel step and inserts it at the cursor. While either
// runs the keyboard is grabbed; Stop, destroying this object or losing the lease ends it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <vector>

#include "macro/macro_recorder.h"
#include "ui/input_source.h"

class QWidget;

namespace qvm::ui {

class MacroRecording : public QObject {
    Q_OBJECT
  public:
    MacroRecording(InputSource& source, const Clock& clock, QObject* parent = nullptr);
    ~MacroRecording() override;

    void SetOptions(const RecorderOptions& options);
    // Left and right clicks inside these widgets (the editor's Record and Stop buttons)
    // are never recorded.
    void SetExcludedWidgets(std::vector<QPointer<QWidget>> widgets);

    // `grabWidget` takes the keyboard where the whole desktop cannot be seen.
    Status StartRecording(QWidget* grabWidget);
    Status StartCapture(bool fromMouseInsert, QWidget* grabWidget);
    void Stop();

    bool Active() const { return recorder_.Active(); }
    CaptureState State() const { return recorder_.State(); }
    bool KeyboardGrabbed() const { return lease_ && lease_->KeyboardGrabbed(); }

  signals:
    // Recorded items go at the end of the list; captured ones at the cursor.
    void recorded(const std::vector<qvm::MacroItem>& items);
    void captured(const std::vector<qvm::MacroItem>& items);
    // A recording or capture ended (Stop, a finished capture, the lease taken away).
    void stopped();

  private:
    // Ends what runs, then takes a new lease and the keyboard.
    Status TakeInput(QWidget* grabWidget, bool swallowMouse);
    void Deliver(const RecorderOutput& output);
    void KeepGrabWhileWanted();

    InputSource& source_;
    MacroRecorder recorder_;
    std::unique_ptr<InputLease> lease_;
    std::vector<QPointer<QWidget>> excluded_;
    QTimer grabTimer_;  // runs only while a captured key's or click's release is awaited
    bool awaitingRelease_ = false;  // a captured click's release has not come yet
};

}  // namespace qvm::ui

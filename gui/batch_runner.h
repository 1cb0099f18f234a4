// Runs a batch plan on a worker thread. Whatever the run asks of the user is shown on the interface
// thread while the worker waits for the answer, so the window keeps repainting during a translation; the
// interface reads the rows of the current page from the watch and stops the run through it.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "gui/batch.h"
#include "gui/ui_services.h"

class QThread;

namespace vantrel::gui {

class BatchRunner : public QObject {
  Q_OBJECT
 public:
  using ProgressFn = std::function<void(int index, int count, const QString& input, const QString& output)>;

  BatchRunner(UiServices& services, PrintJobFactory printJobs, QObject* parent = nullptr);
  ~BatchRunner() override;

  // Starts the run; finished() follows on the interface thread. *askBeforeOverwrite must outlive it.
  void start(BatchPlan plan, bool* askBeforeOverwrite, ProgressFn progress);
  bool running() const { return thread_ != nullptr; }
  const BatchSummary& lastSummary() const { return summary_; }
  // Asks the run to stop after the line it is on; the files not reached stay untranslated.
  void cancel() { watch_.cancel.store(true); }
  const RunWatch& watch() const { return watch_; }
  // For tests: the environment handed to each translation.
  void setEnvironment(const RunEnvironment& environment) { environment_ = environment; }

 Q_SIGNALS:
  void finished();

 private:
  class Bridge;
  void threadFinished();

  UiServices& services_;
  PrintJobFactory printJobs_;
  RunEnvironment environment_;
  std::unique_ptr<Bridge> bridge_;
  QThread* thread_ = nullptr;
  BatchSummary summary_;
  RunWatch watch_;
};

}  // namespace vantrel::gui

#include "gui/batch_runner.h"

#include <QCoreApplication>
#include <QThread>

namespace vantrel::gui {

// The run's questions, each carried to the interface thread and answered there.
class BatchRunner::Bridge : public BatchUi {
 public:
  Bridge(BatchRunner& runner, ProgressFn progress) : runner_(runner), progress_(std::move(progress)) {}

  void showProgress(int index, int count, const std::string& input, const std::string& output) override {
    onInterfaceThread(
        [&] { progress_(index, count, QString::fromStdString(input), QString::fromStdString(output)); });
  }
  OverwriteAnswer askOverwrite(const std::string& output) override {
    OverwriteAnswer answer = OverwriteAnswer::kNo;
    onInterfaceThread([&] { answer = runner_.services_.askOverwrite(QString::fromStdString(output)); });
    return answer;
  }
  std::optional<std::string> choosePrinter() override {
    std::optional<std::string> printer;
    onInterfaceThread([&] {
      if (const std::optional<QString> name = runner_.services_.choosePrinter())
        printer = name->toStdString();
    });
    return printer;
  }

 private:
  template <typename F>
  void onInterfaceThread(F&& f) {
    QMetaObject::invokeMethod(&runner_, std::forward<F>(f), Qt::BlockingQueuedConnection);
  }

  BatchRunner& runner_;
  ProgressFn progress_;
};

BatchRunner::BatchRunner(UiServices& services, PrintJobFactory printJobs, QObject* parent)
    : QObject(parent), services_(services), printJobs_(std::move(printJobs)) {}

BatchRunner::~BatchRunner() {
  if (thread_ == nullptr) return;
  // The worker may be waiting for an answer from this thread: keep answering until it ends.
  while (!thread_->wait(10)) QCoreApplication::processEvents();
  delete thread_;
}

void BatchRunner::start(BatchPlan plan, bool* askBeforeOverwrite, ProgressFn progress) {
  if (thread_ != nullptr) return;
  bridge_ = std::make_unique<Bridge>(*this, std::move(progress));
  summary_ = {};
  watch_.cancel.store(false);
  watch_.stopped.store(false);
  watch_.startPage(0);
  thread_ = QThread::create([this, plan = std::move(plan), askBeforeOverwrite] {
    RunEnvironment environment = environment_;
    environment.watch = &watch_;
    summary_ = runBatch(plan, *bridge_, printJobs_, askBeforeOverwrite, environment);
  });
  connect(thread_, &QThread::finished, this, &BatchRunner::threadFinished, Qt::QueuedConnection);
  thread_->start();
}

void BatchRunner::threadFinished() {
  if (thread_ == nullptr) return;
  thread_->wait();
  delete thread_;
  thread_ = nullptr;
  Q_EMIT finished();
}

}  // namespace vantrel::gui

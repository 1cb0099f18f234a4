// Printing for real, through the private cupsd that cups_test.sh starts: its raw queue "plotter" writes
// each job into a file, which must hold exactly what vantrel writes for the same input. A queue that
// does not exist refuses the job, and the next file goes on. Runs only under that script, which sets
// CUPS_SERVER and VANTREL_CUPS_DEVICE.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <QPrintDialog>
#include <QSignalSpy>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "gui/batch_runner.h"
#include "gui/cups_job.h"
#include "gui/dialogs.h"
#include "tests/gui/gui_support.h"

namespace vantrel::gui {
namespace {

using testing::FakeServices;
using testing::framedPage;
using testing::ScratchFolder;

std::string load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const OutputFormatRow& row(const char* rofName) {
  for (const OutputFormatRow& r : outputFormatRows())
    if (std::string(r.rofName) == rofName) return r;
  throw std::invalid_argument(rofName);
}

// Waits until the queue has no job left to print.
bool queueDrained(const char* printer) {
  for (int i = 0; i < 300; ++i) {
    cups_job_t* jobs = nullptr;
    const int active = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, printer, 0, CUPS_WHICHJOBS_ACTIVE);
    cupsFreeJobs(active > 0 ? active : 0, jobs);
    if (active == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class CupsPrinting : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const char* device = std::getenv("VANTREL_CUPS_DEVICE");
    ASSERT_NE(std::getenv("CUPS_SERVER"), nullptr) << "run by tests/gui/cups_test.sh";
    ASSERT_NE(device, nullptr) << "run by tests/gui/cups_test.sh";
    device_ = device;
  }
  std::string device_;
  ScratchFolder scratch_;
};

TEST_P(CupsPrinting, ARawJobHoldsWhatVantrelWritesToAFile) {
  const char* rof = GetParam();
  testruns::writePage(scratch_.at("page.rnl"), kFormatRunLength, framedPage(2400, 900, 300));
  const std::string reference = scratch_.at(std::string("reference.") + rof);
  const std::string command = std::string(VANTREL_EXE) + " " + scratch_.at("page.rnl") + " " + reference +
                              " -rof " + rof + " >/dev/null";
  ASSERT_EQ(WEXITSTATUS(std::system(command.c_str())), 1) << command;

  FakeServices services;
  services.printers = {QString("nosuch"), QString("plotter")};
  BatchRunner runner(services, cupsPrintJobs());
  BatchPlan plan;
  plan.inputs = {scratch_.at("page.rnl"), scratch_.at("page.rnl")};
  plan.row = row(rof);
  plan.printToDevice = true;
  bool ask = true;
  QSignalSpy finished(&runner, &BatchRunner::finished);
  runner.start(plan, &ask, [](int, int, const QString&, const QString&) {});
  ASSERT_TRUE(finished.wait(60000));
  EXPECT_EQ(runner.lastSummary().translated, 2);
  EXPECT_EQ(runner.lastSummary().completed, 1);
  EXPECT_EQ(runner.lastSummary().files[0].cause, "unable to complete writing file");
  EXPECT_TRUE(services.texts().empty());
  ASSERT_TRUE(queueDrained("plotter"));
  const std::string printed = load(device_);
  EXPECT_EQ(printed.size(), load(reference).size());
  EXPECT_TRUE(printed == load(reference)) << "the device file differs from vantrel's output";
}

INSTANTIATE_TEST_SUITE_P(Languages, CupsPrinting, ::testing::Values("rtl", "hpg"));

// Qt's print dialog lists the server's queues; confirming it gives the queue's name.
TEST(CupsPrintingDialog, OffersTheQueueAndGivesItsName) {
  ASSERT_NE(std::getenv("CUPS_SERVER"), nullptr) << "run by tests/gui/cups_test.sh";
  QtUiServices services;
  EXPECT_TRUE(services.printerAvailable());
  bool sawDialog = false;
  const auto answerer = testing::answerNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QPrintDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    sawDialog = true;
    dialog->accept();
  });
  const std::optional<QString> printer = services.choosePrinter();
  EXPECT_TRUE(sawDialog);
  ASSERT_TRUE(printer.has_value());
  EXPECT_EQ(printer->toStdString(), "plotter");
}

}  // namespace
}  // namespace vantrel::gui

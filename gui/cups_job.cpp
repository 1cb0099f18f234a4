#include "gui/cups_job.h"

#include <cups/cups.h>

namespace vantrel::gui {
namespace {

constexpr int kConnectTimeoutMs = 30000;

}  // namespace

CupsRawJob::CupsRawJob(std::string printer, std::string title)
    : printer_(std::move(printer)), title_(std::move(title)) {}

CupsRawJob::~CupsRawJob() {
  if (begun_ && !failed_) withdraw();  // never finished: the run ended without its finish
  if (http_ != nullptr) httpClose(http_);
}

bool CupsRawJob::begin() {
  begun_ = true;
  http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectTimeoutMs,
                       nullptr);
  if (http_ == nullptr) return false;
  job_ = cupsCreateJob(http_, printer_.c_str(), title_.c_str(), 0, nullptr);
  if (job_ == 0) return false;
  return cupsStartDocument(http_, printer_.c_str(), job_, title_.c_str(), CUPS_FORMAT_RAW, 1) ==
         HTTP_STATUS_CONTINUE;
}

void CupsRawJob::withdraw() {
  failed_ = true;
  if (http_ == nullptr || job_ == 0) return;
  (void)cupsFinishDocument(http_, printer_.c_str());
  (void)cupsCancelJob2(http_, printer_.c_str(), job_, 0);
}

size_t CupsRawJob::write(const void* data, size_t size, size_t count, void* context) {
  auto* self = static_cast<CupsRawJob*>(context);
  if (self->failed_) return 0;
  if (!self->begun_ && !self->begin()) {
    self->withdraw();
    return 0;
  }
  if (cupsWriteRequestData(self->http_, static_cast<const char*>(data), size * count) !=
      HTTP_STATUS_CONTINUE) {
    self->withdraw();
    return 0;
  }
  return count;
}

bool CupsRawJob::finish(void* context, bool succeeded) {
  auto* self = static_cast<CupsRawJob*>(context);
  if (self->failed_) return false;
  if (!succeeded) {
    self->withdraw();
    return false;
  }
  if (!self->begun_ && !self->begin()) {  // an output of no bytes is still a job
    self->withdraw();
    return false;
  }
  const bool done = cupsFinishDocument(self->http_, self->printer_.c_str()) == IPP_STATUS_OK;
  self->failed_ = !done;
  if (done) self->begun_ = false;  // finished: nothing to withdraw
  return done;
}

PrintJobFactory cupsPrintJobs() {
  return [](const std::string& printer, const std::string& title) -> std::unique_ptr<PrintJob> {
    return std::make_unique<CupsRawJob>(printer, title);
  };
}

}  // namespace vantrel::gui

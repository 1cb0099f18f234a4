// A raw print job through libcups: the bytes of one translation, unchanged, to a CUPS queue. The job is
// created with the first bytes, so a printer that refuses it fails the first write; the run's finish
// completes the document, or withdraws the job when the run failed.
#pragma once

#include <string>

#include "gui/batch.h"

typedef struct _http_s http_t;

namespace vantrel::gui {

class CupsRawJob : public PrintJob {
 public:
  CupsRawJob(std::string printer, std::string title);
  ~CupsRawJob() override;
  CupsRawJob(const CupsRawJob&) = delete;
  CupsRawJob& operator=(const CupsRawJob&) = delete;

  OutputSink sink() override { return {write, finish, this}; }
  int jobId() const { return job_; }

 private:
  static size_t write(const void* data, size_t size, size_t count, void* context);
  static bool finish(void* context, bool succeeded);
  bool begin();
  void withdraw();

  std::string printer_;
  std::string title_;
  http_t* http_ = nullptr;
  int job_ = 0;
  bool begun_ = false;
  bool failed_ = false;
};

// Jobs to the CUPS server of the environment (CUPS_SERVER, else the system's).
PrintJobFactory cupsPrintJobs();

}  // namespace vantrel::gui

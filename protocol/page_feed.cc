#include "protocol/page_feed.h"

#include "base/error_pool.h"
#include "base/job_control.h"
#include "document/page_header.h"
#include "document/tiff_oper.h"
#include "protocol/fax_result.h"
#include "protocol/session_names.h"

namespace vexo {

PageFeed::PageFeed(std::span<const std::string> files, std::uint32_t* resume, Reports reports)
    : m_files(files), m_resume(resume), m_reports(reports) {
  const ResumePosition from(resume ? *resume : 0);
  m_startFile = from.FileIndex();
  m_startPage = from.PageIndex();
}

PageFeed::Count PageFeed::CountPages(FirstPage rule) {
  bool flagsKnown = false;
  for (std::uint32_t f = m_startFile; f < m_files.size(); ++f) {
    TiffOper tiff;
    tiff.SetErrorPool(true);
    if (tiff.OpenReadTiffHeader(m_files[f]) != 1) return Count::kFileUnreadable;
    int pages = tiff.GetTotalPageNum();
    if (pages <= 0) {
      ReportError(0, kMsgDefault, m_reports.module, m_reports.function,
                  "Fail to GetTotalPageNum or page number of TIFF image file is zero, Filename=%s",
                  m_files[f].c_str());
      pages = 0;
    }
    std::uint32_t skip = 0;
    if (f == m_startFile && m_startPage != 0) {
      if (m_startPage >= static_cast<std::uint32_t>(pages)) {
        ++m_startFile;  // nothing left of this file: start with the next one
        m_startPage = 0;
        pages = 0;
      } else {
        skip = m_startPage;
        pages -= static_cast<int>(skip);
      }
    }
    if (rule == FirstPage::kFirstReadable && pages > 0 && !flagsKnown &&
        (skip == 0 || tiff.MovePage(static_cast<int>(skip)) >= 0) && tiff.ReadTags() == 1) {
      m_firstFlags = tiff.PageInfo().flags;
      flagsKnown = true;
    }
    m_total += static_cast<std::uint32_t>(pages);
    tiff.CloseReadTiff();
  }
  if (m_total == 0) {
    ReportError(0, kMsgDefault, m_reports.module, m_reports.function, "%s",
                "Page number of TIFF image files is zero");
    return Count::kNoPages;
  }
  return rule == FirstPage::kExactly ? ReadFirstPage() : Count::kReady;
}

PageFeed::Count PageFeed::ReadFirstPage() {
  for (std::uint32_t f = m_startFile; f < m_files.size(); ++f) {
    TiffOper tiff;
    tiff.SetErrorPool(true);
    if (tiff.OpenReadTiffHeader(m_files[f]) != 1) return Count::kFirstFileUnreadable;
    if (tiff.GetTotalPageNum() <= 0) continue;
    if (f == m_startFile && m_startPage != 0 && tiff.MovePage(static_cast<int>(m_startPage)) < 0)
      return Count::kFirstPageUnreadable;
    if (tiff.ReadTags() != 1) return Count::kFirstPageUnreadable;
    m_firstFlags = tiff.PageInfo().flags;
    tiff.CloseReadTiff();
    return Count::kReady;
  }
  return Count::kFirstPageUnreadable;
}

bool PageFeed::AnyLongPage() const {
  for (std::uint32_t f = m_startFile; f < m_files.size(); ++f) {
    TiffOper tiff;
    tiff.SetErrorPool(true);
    if (tiff.OpenReadTiffHeader(m_files[f]) != 1) return false;
    const int skip = f == m_startFile ? static_cast<int>(m_startPage) : 0;
    if (tiff.GetTotalPageNum() <= skip || (skip != 0 && tiff.MovePage(skip) < 0)) continue;
    // A page that cannot be read ends the look: the send stops at it.
    do {
      if (tiff.ReadTags() != 1) return false;
      if ((tiff.PageInfo().flags & PAGE_LONG) != 0) return true;
    } while (tiff.NextPage() == 1);
  }
  return false;
}

bool PageFeed::Cancelled(PageSteps& steps, JobControl* job) const {
  if (job == nullptr || job->IsCancelled(0) != 1) return false;
  ReportError(0, kMsgDefault, m_reports.module, m_reports.function, "%s", kCancelText);
  steps.EndCancelled();
  return true;
}

int PageFeed::Ended(PageSteps& steps, JobControl* job) const {
  if (job) job->SetStatusFormat(kStrSendEnd, m_sent);
  steps.EndSent();
  return m_refused ? kSessionPartly : kSessionDone;
}

// The page counts, and the resume position moves past it, only once the far
// end has answered it: a page the line dropped during is sent again.
void PageFeed::Confirm(FaxResult* result, std::uint32_t file, std::uint32_t page, bool last,
                       bool moreInFile) {
  ++m_sent;
  if (result) result->pagesTransferred = m_sent;
  if (m_resume == nullptr) return;
  if (last)
    *m_resume = 0;
  else if (moreInFile)
    *m_resume = ResumePosition::At(file, page + 1).Raw();
  else
    *m_resume = ResumePosition::At(file + 1, 0).Raw();
}

int PageFeed::Send(PageSteps& steps, const Header& header, JobControl* job, FaxResult* result) {
  m_sent = 0;
  m_refused = 0;
  TiffOper tiff;
  tiff.SetErrorPool(true);
  PageHeader& pageHeader = PageHeaderOf(tiff);
  pageHeader.SetSender(header.sender);
  pageHeader.SetRecipient(header.recipient);
  pageHeader.SetSystemLog(header.systemLog);
  const auto unreadable = [&steps] {
    steps.EndUnreadable();
    return kSessionFailed;
  };

  std::uint32_t pageInFile = m_startPage;
  for (std::uint32_t f = m_startFile; f < m_files.size(); ++f, pageInFile = 0) {
    if (Cancelled(steps, job)) return kSessionFailed;
    if (tiff.OpenReadTiffHeader(m_files[f]) != 1) return unreadable();
    if (tiff.GetTotalPageNum() <= 0) {
      tiff.CloseReadTiff();
      continue;
    }
    if (pageInFile != 0 && tiff.MovePage(static_cast<int>(pageInFile)) < 0) return unreadable();
    for (;;) {
      const std::uint32_t pageNo = m_sent + 1;
      if (job) {
        job->SetStatusFormat(kStrSendingPage, pageNo, m_total);
        job->ShowProgress(pageNo, m_total);
      }
      if (Cancelled(steps, job)) return kSessionFailed;
      if (tiff.ReadTags() != 1) return unreadable();
      if (!steps.TransmitPage(tiff, pageNo, m_total)) return kSessionFailed;
      const bool last = pageNo == m_total;
      const PageAnswer answer = steps.AnswerPage(last, pageNo, m_total);
      if (answer.resend) continue;  // ReadTags starts the page over
      if (answer.endsPartly) {
        if (m_resume) *m_resume = ResumePosition::At(f, pageInFile).Raw();
        tiff.CloseReadTiff();
        Ended(steps, job);
        return kSessionPartly;
      }
      const bool moreInFile = !last && tiff.NextPage() == 1;
      if (answer.refused) ++m_refused;
      if (answer.confirmed) Confirm(result, f, pageInFile, last, moreInFile);
      if (!answer.goOn) return kSessionFailed;
      if (last) {
        tiff.CloseReadTiff();
        return Ended(steps, job);
      }
      ++pageInFile;
      if (!moreInFile) break;
    }
    tiff.CloseReadTiff();
  }
  // The files held fewer pages than counted.
  return Ended(steps, job);
}

}  // namespace vexo

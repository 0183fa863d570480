// PageFeed walks the pages of one send, whatever the service class: it counts
// the pages from the resume position, opens the files in turn, moves to the
// resume page, sets the page header up, checks for a cancel before every file
// and page, shows which page goes, and moves the resume position past a page
// once the far end has answered it. The class supplies its PageSteps: how a
// page is transmitted, how the far end's answer is read, and how the call is
// aborted, cancelled and ended.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vexo {

class JobControl;
class LogFile;
class TiffOper;
struct FaxResult;

// The far end's answer to a page, as the class read it.
struct PageAnswer {
  bool confirmed = false;   // the far end answered the page: it counts
  bool refused = false;     // it answered with a refusal (the page still counts)
  bool goOn = false;        // the call goes on; after the last page: it ended well
  bool resend = false;      // the page goes again (it does not count yet)
  bool endsPartly = false;  // the call ends in good order without this page:
                            // a partial send, resuming at this page
};

// What a service class does for each page of a send.
class PageSteps {
 public:
  // Sends the page tiff has loaded (its tags read) up to its end; pageNo counts
  // from 1 over the call. false fails the call; the step aborts where it must.
  virtual bool TransmitPage(TiffOper& tiff, std::uint32_t pageNo, std::uint32_t total) = 0;
  // Reads the far end's answer to the page just transmitted.
  virtual PageAnswer AnswerPage(bool last, std::uint32_t pageNo, std::uint32_t total) = 0;
  // Ends the call after a file or page could not be read; after a cancel
  // (reported already); after every page went. Each does nothing unless the
  // class overrides it.
  virtual void EndUnreadable() {}
  virtual void EndCancelled() {}
  virtual void EndSent() {}

 protected:
  ~PageSteps() = default;
};

class PageFeed {
 public:
  // How the flags of the first page (they choose the call's parameters) are read.
  enum class FirstPage {
    kFirstReadable,  // while counting; a page that cannot be read gives way to the next file's
    kExactly,        // after counting; the first page must be readable
  };
  enum class Count {
    kReady,
    kFileUnreadable,       // a file did not open (reported by the TIFF reader)
    kNoPages,              // no page is left to send (reported)
    kFirstFileUnreadable,  // kExactly: the first page's file did not open
    kFirstPageUnreadable,  // kExactly: the first page could not be read
  };
  // Who reports: the class's module and send function.
  struct Reports {
    const char* module;
    const char* function;
  };
  // The names on the page header and where its failures are logged.
  struct Header {
    std::string_view sender;
    std::string_view recipient;
    LogFile* systemLog = nullptr;
  };

  // resume (may be null) holds the position to start from and receives the
  // position to resume from.
  PageFeed(std::span<const std::string> files, std::uint32_t* resume, Reports reports);

  // The resume position lies past the last file: nothing is left to send.
  bool Finished() const { return m_startFile >= m_files.size(); }
  Count CountPages(FirstPage rule);
  std::uint32_t Total() const { return m_total; }
  // The first page's flags (PAGE_FINE, ...); 0 when none could be read.
  std::uint32_t FirstPageFlags() const { return m_firstFlags; }
  // True when a page still to send is longer than A4 (PAGE_LONG), whichever
  // page it is: the call's recording length must fit every page, not only the
  // first (a cover page is often shorter than what follows it).
  bool AnyLongPage() const;

  // Sends the counted pages through steps. Returns kSessionDone,
  // kSessionPartly (every page went, some were refused; or an answer ended the
  // send partly) or kSessionFailed.
  // job and result may be null.
  int Send(PageSteps& steps, const Header& header, JobControl* job, FaxResult* result);

 private:
  Count ReadFirstPage();
  bool Cancelled(PageSteps& steps, JobControl* job) const;
  int Ended(PageSteps& steps, JobControl* job) const;
  void Confirm(FaxResult* result, std::uint32_t file, std::uint32_t page, bool last,
               bool moreInFile);

  std::span<const std::string> m_files;
  std::uint32_t* m_resume;
  Reports m_reports;
  std::uint32_t m_startFile = 0;
  std::uint32_t m_startPage = 0;
  std::uint32_t m_total = 0;
  std::uint32_t m_firstFlags = 0;
  std::uint32_t m_sent = 0;
  std::uint32_t m_refused = 0;
};

}  // namespace vexo

#pragma once
// The start page: an owner-only file that sends the browser on to the page's address with its secret. A
// browser keeps its arguments for its whole life, where every local user reads them with ps; so the browser
// is given this file, and the secret stays in a file only the user can read.

#include "platform/UnitPlatformPrivateFiles.h"

#include <iosfwd>
#include <memory>
#include <string>

class TKovaGadgetStartPage {
public:
    // Writes the page for the address ("http://127.0.0.1:PORT/#SECRET") into $XDG_RUNTIME_DIR/kova-gadget/,
    // else into a private temporary folder. Raises EFCreateError or EWriteError with the reason.
    explicit TKovaGadgetStartPage(const std::string& pageUrl);
    // Removes the file (and its private folder).
    ~TKovaGadgetStartPage();
    TKovaGadgetStartPage(const TKovaGadgetStartPage&) = delete;
    TKovaGadgetStartPage& operator=(const TKovaGadgetStartPage&) = delete;

    const std::string& Path() const { return FFile.Path; }
    // The file as a file:// address, for a browser or an opener.
    std::string FileUrl() const;
    // Why $XDG_RUNTIME_DIR/kova-gadget/ was passed over; empty when it was used or is not set.
    const std::string& PassedOver() const { return FFile.PassedOver; }
    void Remove();

private:
    TPrivateFile FFile;
};

// The page's text: it forwards at once by script, by a refresh where scripts do not run, and by a link
// otherwise; it sends no referrer and asks not to be cached.
std::string KovaGadgetStartPageHtml(const std::string& pageUrl);

// Writes the start page and opens it in the user's browser; says on report why it could not be written (the
// address printed on the startup line still works) or which folder it passed over. Returns the page, or
// nothing when it could not be written.
std::unique_ptr<TKovaGadgetStartPage> OpenKovaGadgetStartPage(const std::string& pageUrl,
                                                              std::ostream& report);

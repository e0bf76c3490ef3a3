#include "pane_post.h"

#include <algorithm>
#include <vector>

#include "base/translation.h"
#include "platform/views.h"
#include "plugin/pane_contract.h"
#include "terminal_text.h"

namespace marigold::cli {
namespace {

// Picks the blog in the pane; answers kDone or the exit status.
int chooseBlog(HostSession& session, const std::optional<std::string>& named, Console& console) {
  auto blogMenu = session.control<PopUpButton>(pane::kBlogMenu);
  std::vector<std::string> blogs = session.blogs();
  if (blogs.empty()) {
    return session.alertShown()
               ? kFailed
               : console.error(tr("your account lists no blogs to post to"), kFailed);
  }
  if (named && !named->empty()) {
    // A blog is named by its full name or by the part before the first dot.
    auto match = std::find_if(blogs.begin(), blogs.end(), [&](const std::string& title) {
      return title == *named || title.substr(0, title.find('.')) == *named;
    });
    if (match == blogs.end()) {
      std::string shown;
      for (const auto& blog : blogs) {
        if (!shown.empty()) shown += ", ";
        shown += printable(blog);
      }
      return console.error(
          tr("--blog %1: you have no blog of that name; your blogs are %2. Nothing was posted.",
             {printable(*named), shown}));
    }
    blogMenu->selectItemWithTitle(*match);
  }
  return kDone;
}

}  // namespace

PanePost postFromPane(HostSession& session, SettingsWorkspace& settings,
                      const SignInOptions& signIn, const PaneFields& fields, Console& console,
                      const std::function<int(HostSession&)>& beforeExport) {
  PanePost post;
  if (fields.state) session.choosePostState(*fields.state);
  // The pane judged the selection when it was shown; a refusal needs no sign-in.
  auto notice = session.control<TextField>(pane::kNotice);
  if (!notice->isHidden()) {
    post.status = console.error(notice->stringValue(), kUsage);
    return post;
  }
  if (post.status = ensureSignedIn(session, settings, signIn, console); post.status != kDone) {
    return post;
  }
  if (post.status = chooseBlog(session, fields.blog, console); post.status != kDone) return post;
  session.control<TextField>(pane::kCaption)->setStringValue(fields.caption);
  session.control<TextField>(pane::kTags)->setStringValue(fields.tags);
  if (fields.link) session.control<TextField>(pane::kClickThrough)->setStringValue(*fields.link);
  if (!session.exportManager().controlsEnabled()) {
    post.status = console.error(tr("the pane does not allow posting now"), kFailed);
    return post;
  }
  post.blog = session.control<PopUpButton>(pane::kBlogMenu)->titleOfSelectedItem().value_or("");
  post.state = session.postState();
  if (beforeExport) {
    if (post.status = beforeExport(session); post.status != kDone) return post;
  }
  const std::size_t count = session.exportManager().photoPaths().size();
  console.note(trn("Posting %1 photo to %2", "Posting %1 photos to %2", count,
                   {std::to_string(count), printable(post.blog)}));
  post.outcome = session.exportAndWait();
  return post;
}

}  // namespace marigold::cli

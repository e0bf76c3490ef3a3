// The command line in the user's language: messages and help come from the catalogue of the
// language LANGUAGE, LC_ALL, LC_MESSAGES and LANG choose, while the exit status and --json output
// stay the same in every language, and LC_ALL=C gives the English texts as written. The language
// is the one named whether or not the system has its locale: the private folder of locales holds
// only en_US.UTF-8 and C.UTF-8.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "testing/camera_photo.h"
#include "testing/program_fixture.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;

class MarigoldLanguageTest : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    locales_ = home_.path() / "locales";
    fs::create_directories(locales_);
    const std::string make =
        "localedef -i en_US -f UTF-8 '" + (locales_ / "en_US.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "localedef cannot build en_US here";
    // C.UTF-8, which every Debian system has; no other locale is there.
    const std::string makeC =
        "localedef -i C -f UTF-8 '" + (locales_ / "C.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(makeC.c_str()) != 0) GTEST_SKIP() << "localedef cannot build C.UTF-8 here";
  }

  // A desktop session's language settings, with the private locales.
  ProgramRun in(std::map<std::string, std::string> variables) const {
    variables["LOCPATH"] = locales_.string();
    return ProgramRun{.environment = std::move(variables)};
  }

  fs::path locales_;
};

TEST_F(MarigoldLanguageTest, MessagesFollowTheLanguageAndResultsDoNot) {
  const std::string english =
      "marigold: no command 'frobnicate'.\n  Run 'marigold --help' for usage.\n";
  struct Case {
    const char* name;
    std::map<std::string, std::string> variables;
    std::string wantError;
  };
  const Case kCases[] = {
      {"no language", {}, english},
      {"LANGUAGE before LANG",
       {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}},
       "marigold: es gibt keinen Befehl 'frobnicate'.\n"
       "  Rufen Sie 'marigold --help' für die Verwendung auf.\n"},
      {"LC_MESSAGES",
       {{"LC_MESSAGES", "en_US.UTF-8"}, {"LANGUAGE", "fr:de"}},
       "marigold: pas de commande « frobnicate ».\n"
       "  Lancez 'marigold --help' pour l'utilisation.\n"},
      {"LC_ALL=C wins over everything",
       {{"LC_ALL", "C"}, {"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}},
       english},
      {"a language without a catalogue", {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "nl"}}, english},
      {"LANG of a locale this system lacks",
       {{"LANG", "de_DE.UTF-8"}},
       "marigold: es gibt keinen Befehl 'frobnicate'.\n"
       "  Rufen Sie 'marigold --help' für die Verwendung auf.\n"},
      {"LANGUAGE before a locale this system lacks",
       {{"LC_MESSAGES", "de_AT.UTF-8"}, {"LANGUAGE", "fr"}},
       "marigold: pas de commande « frobnicate ».\n"
       "  Lancez 'marigold --help' pour l'utilisation.\n"},
      {"LC_ALL=C over a locale this system lacks",
       {{"LC_ALL", "C"}, {"LANG", "de_DE.UTF-8"}, {"LANGUAGE", "de"}},
       english},
  };
  // The user's own application, whose file cannot be read (a link to itself): --json says why in
  // English, the C library's words included, in every language.
  const fs::path conf = home_.path() / ".config/marigold/application.conf";
  fs::create_directories(conf.parent_path());
  fs::create_symlink(conf, conf);
  ProgramOutcome englishJson = run({"status", "--json"}, in({}));
  ASSERT_EQ(englishJson.exitCode, 3) << englishJson.err;
  EXPECT_NE(englishJson.out.find("\"problem\":\"the file " + conf.string() +
                                 " cannot be read: Too many levels of symbolic links\""),
            std::string::npos)
      << englishJson.out;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ProgramOutcome o = run({"frobnicate"}, in(c.variables));
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_EQ(o.err, c.wantError);
    o = run({"status", "--json"}, in(c.variables));
    EXPECT_EQ(o.exitCode, englishJson.exitCode);
    EXPECT_EQ(o.out, englishJson.out) << "--json is the same in every language";
  }
  // What status shows people reads German, the problem included; then a usable application whose
  // file others may read, whose warning reads German too while --json keeps it in English.
  const std::map<std::string, std::string> german = {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}};
  ProgramOutcome status = run({"status"}, in(german));
  EXPECT_EQ(status.exitCode, 3);
  for (const std::string& line :
       {std::string("Benutzername:  (keiner)\nspeichern:     nein\nangemeldet:    nein\n"),
        "Geheimnisse:   die verschlüsselte Einstellungsdatei " + conf.parent_path().string() +
            "/PckgSettings (kein Desktop-Schlüsselbund: kein Secret Service",
        "\nAnwendung:     keine verwendbar: die Datei " + conf.string() +
            " kann nicht gelesen werden: Zu viele Ebenen aus symbolischen Links\n"}) {
    EXPECT_NE(status.out.find(line), std::string::npos) << line << "\n" << status.out;
  }
  fs::remove(conf);
  std::ofstream(conf) << "key = OwnKey\nsecret = s\n";
  fs::permissions(conf, fs::perms(0644));
  status = run({"status"}, in(german));
  EXPECT_NE(status.out.find("\nAnwendung:     Ihre eigene Anwendung OwnKey (aus " + conf.string() +
                            ")\n"),
            std::string::npos)
      << status.out;
  EXPECT_EQ(status.err, "marigold: Warnung: die Zugriffsrechte 0644 von " + conf.string() +
                            " geben anderen Benutzern Zugang zum Geheimnis Ihrer Anwendung; "
                            "machen Sie die Datei privat mit: chmod 600 " +
                            conf.string() + "\n");
  englishJson = run({"status", "--json"}, in({}));
  EXPECT_NE(englishJson.out.find("\"warning\":\"the permissions 0644 of " + conf.string()),
            std::string::npos)
      << englishJson.out;
  EXPECT_EQ(run({"status", "--json"}, in(german)).out, englishJson.out);
  const ProgramOutcome help = run({"--help"}, in({{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "ja"}}));
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("終了ステータス:\n  0  完了\n"), std::string::npos) << help.out;
}

// The parser's errors (worded by CLI11) and the commands' own, in English under LC_ALL=C as they
// always read, and in German and Japanese; the exit status is the same in every language.
TEST_F(MarigoldLanguageTest, ErrorsReadInTheLanguageWithTheSameStatus) {
  const std::string photo = (fs::path(MARIGOLD_SOURCE_DIR) / "examples" / "sunrise.jpg").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string english, german, japanese;
  };
  const Case kCases[] = {
      {{"post", "--quality", "300", photo},
       2,
       "marigold: --quality: Value 300 not in range 1 to 100\n"
       "  Run 'marigold post --help' for usage.\n",
       "marigold: --quality: Wert 300 liegt nicht zwischen 1 und 100\n"
       "  Rufen Sie 'marigold post --help' für die Verwendung auf.\n",
       "marigold: --quality: 値300は1から100の範囲外です\n"
       "  使い方は 'marigold post --help' で表示されます。\n"},
      {{"post", photo, "--quality"},
       2,
       "marigold: --quality: 1 required INT:INT in [1 - 100] missing\n"
       "  Run 'marigold post --help' for usage.\n",
       "marigold: --quality: 1 nötiger Wert fehlt (ganze Zahl von 1 bis 100)\n"
       "  Rufen Sie 'marigold post --help' für die Verwendung auf.\n",
       "marigold: --quality: 必須の値(1から100までの整数)が1個足りません\n"
       "  使い方は 'marigold post --help' で表示されます。\n"},
      // The C library's words come whole in a script beyond ASCII, not as '?'.
      {{"post", "/nonexistent/photo.jpg"},
       2,
       "marigold: photo /nonexistent/photo.jpg: No such file or directory\n",
       "marigold: Foto /nonexistent/photo.jpg: Datei oder Verzeichnis nicht gefunden\n",
       "marigold: 写真/nonexistent/photo.jpg: そのようなファイルやディレクトリはありません\n"},
      {{"post", "--keep-location", "--strip-metadata", photo},
       2,
       "marigold: --keep-location excludes --strip-metadata\n"
       "  Run 'marigold post --help' for usage.\n",
       "marigold: --keep-location schließt --strip-metadata aus\n"
       "  Rufen Sie 'marigold post --help' für die Verwendung auf.\n",
       "marigold: --keep-locationと--strip-metadataは同時に指定できません\n"
       "  使い方は 'marigold post --help' で表示されます。\n"},
      {{"post", "--qualty", "3", photo},
       2,
       "marigold: The following argument was not expected: --qualty. Did you mean "
       "'--quality'?\n  Run 'marigold post --help' for usage.\n",
       "marigold: Dieses Argument war nicht erwartet: --qualty. Meinten Sie '--quality'?\n"
       "  Rufen Sie 'marigold post --help' für die Verwendung auf.\n",
       ""},
      {{"version", "x\n\x1b[2Jmarigold: done"},
       2,
       "marigold: The following argument was not expected: x\\n\\x1b[2Jmarigold: done\n"
       "  Run 'marigold version --help' for usage.\n",
       "",
       ""},
      {{"post"},
       2,
       "marigold: photos is required\n  Run 'marigold post --help' for usage.\n",
       "marigold: photos ist nötig\n  Rufen Sie 'marigold post --help' für die Verwendung auf.\n",
       "marigold: photosは必須です\n  使い方は 'marigold post --help' で表示されます。\n"},
      {{"post", "--link", "ftp://example.com/a", photo},
       2,
       "marigold: --link ftp://example.com/a: not an http or https URL\n",
       "marigold: --link ftp://example.com/a: keine http- oder https-URL\n",
       "marigold: --link ftp://example.com/a: httpまたはhttpsのURLではありません\n"},
      {{"post", "--quiet", photo},
       3,
       "marigold: not signed in: run 'marigold login --user NAME --remember' first, or give "
       "--user NAME\n",
       "marigold: nicht angemeldet: rufen Sie zuerst 'marigold login --user NAME --remember' auf, "
       "oder geben Sie --user NAME an\n",
       ""},
      {{"login"},
       2,
       "marigold: login needs --user NAME or --browser\n  Run 'marigold login --help' for usage.\n",
       "marigold: login braucht --user NAME oder --browser\n"
       "  Rufen Sie 'marigold login --help' für die Verwendung auf.\n",
       ""},
  };
  const std::map<std::string, std::string> english = {
      {"LC_ALL", "C"}, {"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}};
  const std::map<std::string, std::string> german = {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}};
  const std::map<std::string, std::string> japanese = {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "ja"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args.front() + " " + c.args[1 % c.args.size()]);
    for (const auto& [variables, want] :
         {std::pair{english, c.english}, {german, c.german}, {japanese, c.japanese}}) {
      if (want.empty()) continue;
      const ProgramOutcome o = run(c.args, in(variables));
      EXPECT_EQ(o.exitCode, c.status);
      EXPECT_EQ(o.err, want);
      EXPECT_EQ(o.out, "");
    }
  }
}

// A command's help: CLI11's headings and labels, the options and the footer read German, and
// nothing of it is English under LC_ALL=C.
TEST_F(MarigoldLanguageTest, HelpReadsInTheLanguage) {
  const ProgramOutcome german =
      run({"post", "--help"}, in({{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}}));
  EXPECT_EQ(german.exitCode, 0);
  for (const char* line : {
           "Aufruf: marigold post [OPTIONEN] photos...\n",
           "\nArgumente:\n  photos PHOTO...             die Fotos, in der Reihenfolge des "
           "Beitrags\n",
           "\nOptionen:\n  -h,--help                   diese Hilfe zeigen\n",
           "  --keep-location Schließt aus: --keep-metadata --strip-metadata\n",
           "Meldet sich mit einer gespeicherten Anmeldung selbst an",
           "\nExit-Status:\n  0  erledigt\n",
       }) {
    EXPECT_NE(german.out.find(line), std::string::npos) << line << "\n" << german.out;
  }
  const ProgramOutcome c =
      run({"post", "--help"}, in({{"LC_ALL", "C"}, {"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}}));
  EXPECT_EQ(c.exitCode, 0);
  for (const char* line : {
           "Usage: marigold post [OPTIONS] photos...\n",
           "\nPositionals:\n  photos PHOTO...             the photos, in the post's order\n",
           "\nOptions:\n  -h,--help                   show this help\n",
           "  --keep-location Excludes: --keep-metadata --strip-metadata\n",
           "\nExit status:\n  0  done\n",
       }) {
    EXPECT_NE(c.out.find(line), std::string::npos) << line << "\n" << c.out;
  }
  // French writes a space before the colon CLI11 puts after its headings and labels.
  const ProgramOutcome french =
      run({"post", "--help"}, in({{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "fr"}}));
  for (const char* line : {"Utilisation : marigold post [OPTIONS] photos...\n", "\nArguments :\n",
                           "\nOptions :\n", " Exclut : --keep-metadata --strip-metadata\n"}) {
    EXPECT_NE(french.out.find(line), std::string::npos) << line << "\n" << french.out;
  }
  const ProgramOutcome japanese =
      run({"--help"}, in({{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "ja"}}));
  EXPECT_NE(japanese.out.find("使い方: marigold [オプション] [コマンド]\n"), std::string::npos)
      << japanese.out;
  EXPECT_NE(
      japanese.out.find("\nコマンド:\n  post                        写真を1件の写真投稿として"),
      std::string::npos)
      << japanese.out;
  // A translated label in an option's name leaves its description in the column of the others,
  // though the label's characters take more bytes than columns.
  const ProgramOutcome sign =
      run({"sign", "--help"}, in({{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "ja"}}));
  EXPECT_NE(sign.out.find("\n  --url TEXT 必須             リクエストのURL\n"
                          "  --consumer-key TEXT 必須    コンシューマーキー\n"
                          "  --consumer-secret TEXT 必須 コンシューマーシークレット\n"
                          "  --method TEXT               HTTPメソッド(既定はGET)\n"),
            std::string::npos)
      << sign.out;
}

// A post whose answer was lost once it was sent whole: the German user reads why and what to do,
// with the same exit status and the same (empty) --json output as in English.
TEST_F(MarigoldLanguageTest, ALostAnswerReadsGermanWithTheSameStatus) {
  startSimulator([](sim::SimOptions& o) { o.faults.closeAfter = 100; });
  const std::string photo = writePhoto("photo.jpg");
  const std::vector<std::string> args = {"post",   "--user", "ada", "--password-stdin",
                                         "--json", photo};
  struct Case {
    std::map<std::string, std::string> variables;
    std::vector<std::string> lines;
  };
  const Case kCases[] = {
      {{{"LC_ALL", "C"}, {"LANGUAGE", "de"}},
       {"\nmarigold: No answer came after the whole post was sent: the connection was closed "
        "without an answer.\n"
        "  The post may already be on your blog; check before posting again.\n"}},
      {{{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}},
       {"\nmarigold: Nachdem der ganze Beitrag gesendet war, kam keine Antwort: die Verbindung "
        "wurde ohne Antwort geschlossen.\n"
        "  Der Beitrag ist vielleicht schon in Ihrem Blog; prüfen Sie das, bevor Sie erneut "
        "veröffentlichen.\n"}},
  };
  for (const Case& c : kCases) {
    ProgramRun how = in(c.variables);
    how.input = "secret pass\n";
    const ProgramOutcome o = run(args, how);
    EXPECT_EQ(o.exitCode, 4) << o.err;
    EXPECT_EQ(o.out, "");
    for (const std::string& line : c.lines) {
      EXPECT_NE(o.err.find(line), std::string::npos) << line << "\n" << o.err;
    }
  }
}

// A post made in German or Japanese: the summary of the photos' preparation reads in the
// language, with its plural forms, while the --json output (whose summary stays English) is the
// same byte for byte, and so is the status and the post the service stores (the state as the
// service names it), as the same post made in English.
TEST_F(MarigoldLanguageTest, APostsJsonAndWhatIsSentAreTheSameInEveryLanguage) {
  const std::string small = writePhoto("photo.jpg");
  const std::string camera = (home_.path() / "camera.jpg").string();
  testing::writeCameraPhoto(camera);
  struct Case {
    std::vector<std::string> photos;
    std::string english, german, japanese;  // the summary line
  };
  const Case kCases[] = {
      {{small},
       "1 photo at its size: 0.1 MB of 5 MB",
       "1 Foto in Originalgröße: 0.1 MB von 5 MB",
       "写真1枚(元のサイズ): 0.1 MB/5 MB"},
      {{small, camera},
       "2 photos, 1 scaled to 1024 px, location removed: 0.1 MB of 5 MB",
       "2 Fotos, 1 davon auf 1024 px verkleinert, Standort entfernt: 0.1 MB von 5 MB",
       "写真2枚、うち1枚を1024 pxに縮小、位置情報を削除: 0.1 MB/5 MB"},
  };
  const std::map<std::string, std::string> english = {{"LC_ALL", "C"}};
  const std::map<std::string, std::string> german = {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}};
  const std::map<std::string, std::string> japanese = {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "ja"}};
  for (const Case& c : kCases) {
    std::vector<std::string> args = {"post",   "--user",  "ada",   "--password-stdin",
                                     "--json", "--state", "draft", "--caption",
                                     "Morgen", "--size",  "1024"};
    args.insert(args.end(), c.photos.begin(), c.photos.end());
    std::optional<std::string> englishJson;
    for (const auto& [variables, summary] :
         {std::pair{english, c.english}, {german, c.german}, {japanese, c.japanese}}) {
      SCOPED_TRACE(summary);
      startSimulator({});
      ProgramRun how = in(variables);
      how.input = "secret pass\n";
      const ProgramOutcome o = run(args, how);
      EXPECT_EQ(o.exitCode, 0) << o.err;
      EXPECT_TRUE(o.err.starts_with(summary + "\n")) << o.err;
      const std::vector<sim::StoredPost> posts = sim_->state().posts();  // posts() answers a copy
      ASSERT_EQ(posts.size(), 1u);
      const sim::StoredPost& stored = posts.front();
      const auto field = [&](const std::string& name) {
        for (const auto& [key, value] : stored.fields) {
          if (key == name) return value;
        }
        return std::string("(absent)");
      };
      EXPECT_EQ(field("state"), "draft");
      EXPECT_EQ(field("caption"), "Morgen");
      if (!englishJson) {
        englishJson = o.out;
        EXPECT_NE(o.out.find("\"state\":\"Draft\""), std::string::npos) << o.out;
        EXPECT_NE(o.out.find("\"summary\":\"" + c.english + "\""), std::string::npos) << o.out;
      }
      EXPECT_EQ(o.out, *englishJson) << "--json is the same in every language";
    }
  }
}

// A post the service refuses: the plug-in's message and advice read in the user's language (the
// service's own words stay as it gave them), with the same exit status as in English.
TEST_F(MarigoldLanguageTest, ARefusedPostReadsInTheLanguageWithTheSameStatus) {
  const std::string photo = writePhoto("photo.jpg");
  const std::string english =
      "marigold: The post failed: Not Authorized (HTTP 401)\n"
      "  Plinth gave the reason permission_denied. You are still signed in.\n";
  struct Case {
    std::map<std::string, std::string> variables;
    std::string wantError;
  };
  const Case kCases[] = {
      {{}, english},
      {{{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}},
       "marigold: Der Beitrag ist fehlgeschlagen: Not Authorized (HTTP 401)\n"
       "  Plinth hat den Grund permission_denied genannt. Sie sind weiterhin angemeldet.\n"},
      {{{"LC_ALL", "C"}, {"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}}, english},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.wantError);
    startSimulator([](sim::SimOptions& o) { o.faults.refusePosts = {"permission_denied"}; });
    ProgramRun how = in(c.variables);
    how.input = "secret pass\n";
    const ProgramOutcome o =
        run({"post", "--user", "ada", "--password-stdin", "--quiet", photo}, how);
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, c.wantError);
    EXPECT_EQ(sim_->state().posts().size(), 0u);
  }
}

// A connection that breaks while the post is sent: what could not be loaded, what went wrong and
// what to do read in the user's language, with the same exit status as in English. libcurl's own
// words, English only, stay in the log (no "?" for a letter the C library's charset lacks).
TEST_F(MarigoldLanguageTest, ABrokenConnectionReadsInTheLanguageWithTheSameStatus) {
  const std::string photo = (home_.path() / "large.jpg").string();
  testing::writeCameraPhoto(photo);
  struct Case {
    std::map<std::string, std::string> variables;
    std::vector<std::string> wantInError;
  };
  const std::vector<std::string> english = {
      "marigold: Could not load http://127.0.0.1:",
      "/post: the connection broke off while sending. The connection broke off; try again.\n"
      "  The cause: the connection broke off while sending. Nothing was posted: the post was not "
      "sent in full.\n"};
  const Case kCases[] = {
      {{}, english},
      {{{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}, {"MARIGOLD_LOG", "on"}},
       {"marigold: http://127.0.0.1:",
        "/post konnte nicht geladen werden: die Verbindung brach beim Senden ab. Die Verbindung "
        "ist "
        "abgebrochen; versuchen Sie es erneut.\n",
        "upload failed: URLLoading code 55: Could not load http://127.0.0.1:",
        "/post: Send failure: "}},
      {{{"LC_ALL", "C"}, {"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}}, english},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.wantInError.front());
    startSimulator([](sim::SimOptions& o) { o.faults.closeAfter = 100; });
    ProgramRun how = in(c.variables);
    how.input = "secret pass\n";
    const ProgramOutcome o =
        run({"post", "--user", "ada", "--password-stdin", "--quiet", photo}, how);
    EXPECT_EQ(o.exitCode, 1);
    for (const std::string& text : c.wantInError) {
      EXPECT_NE(o.err.find(text), std::string::npos) << text << " not in: " << o.err;
    }
    EXPECT_EQ(o.err.find('?'), std::string::npos) << o.err;
    EXPECT_EQ(sim_->state().posts().size(), 0u);
  }
}

// Photos that cannot be posted, found by the host (not an image) and by the preparation (cut
// short): the German user reads why, with the same exit status as in English.
TEST_F(MarigoldLanguageTest, AnUnusablePhotoReadsInTheLanguageWithTheSameStatus) {
  const std::string notAnImage = (home_.path() / "notes.jpg").string();
  std::ofstream(notAnImage) << "not a photo";
  const std::string cut = (home_.path() / "cut.jpg").string();
  {
    std::ifstream whole(writePhoto("whole.jpg"), std::ios::binary);
    std::string start(3000, '\0');
    whole.read(start.data(), static_cast<std::streamsize>(start.size()));
    std::ofstream(cut, std::ios::binary) << start;
  }
  struct Case {
    std::string photo;
    std::map<std::string, std::string> variables;
    std::string wantError;
  };
  const std::map<std::string, std::string> german = {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}};
  const Case kCases[] = {
      {notAnImage,
       {},
       "marigold: photo " + notAnImage + ": not a JPEG, PNG, GIF, TIFF or HEIC image\n"},
      {notAnImage, german,
       "marigold: Foto " + notAnImage + ": kein JPEG-, PNG-, GIF-, TIFF- oder HEIC-Bild\n"},
      {cut,
       {},
       "marigold: photo " + cut + ": cannot be decoded: the file ends before the picture does\n"},
      {cut, german,
       "marigold: Foto " + cut + ": kann nicht dekodiert werden: die Datei endet vor dem Bild\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.wantError);
    ProgramRun how = in(c.variables);
    how.input = "secret pass\n";
    const ProgramOutcome o = run({"post", "--user", "ada", "--password-stdin", c.photo}, how);
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_EQ(o.err, c.wantError);
    EXPECT_EQ(sim_->state().posts().size(), 0u);
  }
}

}  // namespace
}  // namespace marigold

// stub_demo PROGRAM TARGET [SCREENSHOT_TAG]: runs a self-decrypting program under
// Wine as its recipient would (disclaimer, intro, decrypt dialog, message) and
// prints how it went and how long it took. The password comes from QEF_PASSWORD,
// never from the command line. Exit status 0 when the program showed its message
// and ended; whether the files are right is the caller's to check.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fs/fs.h"
#include "fs/path.h"
#include "tests/e2e/stub_driver.h"

int main(int argc, char** argv) {
  using namespace qef;
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: stub_demo PROGRAM TARGET_FOLDER [SCREENSHOT_TAG]  (password in QEF_PASSWORD)\n");
    return 2;
  }
  const char* password = std::getenv("QEF_PASSWORD");
  if (password == nullptr) {
    std::fprintf(stderr, "stub_demo: set QEF_PASSWORD\n");
    return 2;
  }
  test::UseUnmanagedWindows();  // title bars in the screenshots
  Text exe = ToInternalForm(Text(argv[1]));
  Text target = AddTrailingSeparator(ToInternalForm(Text(argv[2])));
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);

  test::RecipientReport report = test::RunAsRecipient(exe, AddTrailingSeparator(ToInternalForm(Text(temp))), target,
                                                      password, argc == 4 ? argv[3] : nullptr);
  std::printf("stub: first dialog after %.2f s; %s; intro dialog %d\n", report.first_dialog_s,
              report.disclaimer ? "disclaimer scrolled to its end and accepted" : "no disclaimer", report.intro_dialog);
  if (!report.message.empty()) std::printf("stub: message \"%s\"\n", report.message.c_str());
  if (!report.failure.empty()) {
    std::printf("stub: FAILED: %s\n", report.failure.c_str());
    return 1;
  }
  std::printf("stub: decrypted in %.2f s (Decrypt pressed to message); program ran %.2f s (start to exit",
              report.decrypt_s, report.total_s);
  if (report.screenshot_s > 0) std::printf(", %.2f s of it for the screenshots", report.screenshot_s);
  std::printf(")\n");
  return 0;
}

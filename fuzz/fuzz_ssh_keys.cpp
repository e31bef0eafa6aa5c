// Fuzzes the SSH key readers of tls/SshKeys: an authorized_keys line is taken or
// refused with a reason, a line taken is written back as one that reads the same key,
// and its fingerprint has OpenSSH's form; the same bytes as a key file are read or
// refused with a reason, without a crash in between.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "tls/SshKeys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string why;
    if (const std::optional<SshPublicKey> key = parseAuthorizedKey(input, &why)) {
        std::string again;
        const std::optional<SshPublicKey> reread = parseAuthorizedKey(key->line(), &again);
        check(reread.has_value(), "a line taken is written back as one that is taken");
        check(reread->type == key->type && reread->blob == key->blob && reread->comment == key->comment,
              "the written line reads the same key");
        const std::string fingerprint = key->fingerprint();
        // "SHA256:" and 43 characters of unpadded base64.
        check(fingerprint.size() == 50 && fingerprint.starts_with("SHA256:"), "a fingerprint in OpenSSH's form");
    } else {
        check(!why.empty(), "a refusal says why");
    }
    static const ScratchDirectory dir;
    writeFile(dir.file("host.key"), input);
    std::string fileWhy;
    if (!publicKeyOfKeyFile(dir.file("host.key"), &fileWhy)) check(!fileWhy.empty(), "a refused key file says why");
    return 0;
}

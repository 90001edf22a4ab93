#include "driver/windows/security.h"

#include <aclapi.h>

namespace host {

namespace {

// The token of this process, for what this user is and gets.
class clToken {
public:
    clToken() { OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token); }
    ~clToken() {
        if (token) CloseHandle(token);
    }
    clToken(const clToken&) = delete;
    clToken& operator=(const clToken&) = delete;
    HANDLE get() const { return token; }

private:
    HANDLE token = nullptr;
};

const SECURITY_INFORMATION securityParts = DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION |
                                           GROUP_SECURITY_INFORMATION;

// A security descriptor as bytes, self-relative; empty when there is none.
std::string bytesOf(PSECURITY_DESCRIPTOR descriptor) {
    return descriptor ? std::string(static_cast<const char*>(descriptor), GetSecurityDescriptorLength(descriptor))
                      : std::string();
}

// Whether the file system of file keeps access lists.
bool keepsSecurity(HANDLE file) {
    DWORD volumeFlags = 0;
    return GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &volumeFlags, nullptr, 0) &&
           (volumeFlags & FILE_PERSISTENT_ACLS);
}

// Gives file the owner, group and access list of the self-relative
// descriptor security. Each part this user may set must be set, or the
// file could open to more than the old one did; only a privileged user
// may give a file to another owner.
bool giveSecurity(HANDLE file, const std::string& security) {
    const auto descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(const_cast<char*>(security.data()));
    PSID owner = nullptr, group = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    GetSecurityDescriptorGroup(descriptor, &group, &defaulted);
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const SECURITY_INFORMATION access =
        DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                   : UNPROTECTED_DACL_SECURITY_INFORMATION);
    DWORD result = SetSecurityInfo(file, SE_FILE_OBJECT, access | OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION,
                                   owner, group, dacl, nullptr);
    if (result == ERROR_INVALID_OWNER) {
        result = SetSecurityInfo(file, SE_FILE_OBJECT, access | GROUP_SECURITY_INFORMATION, nullptr, group, dacl,
                                 nullptr);
    }
    return result == ERROR_SUCCESS;
}

}  // namespace

std::string securityOf(HANDLE handle) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, securityParts, nullptr, nullptr, nullptr, nullptr, &descriptor) !=
        ERROR_SUCCESS) {
        return "";
    }
    const std::string bytes = bytesOf(descriptor);
    LocalFree(descriptor);
    return bytes;
}

std::string newFileSecurityIn(HANDLE directory) {
    const std::string parent = securityOf(directory);
    if (parent.empty()) return "";
    clToken token;
    GENERIC_MAPPING fileRights = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PSECURITY_DESCRIPTOR created = nullptr;
    if (!CreatePrivateObjectSecurity(const_cast<char*>(parent.data()), nullptr, &created, FALSE, token.get(),
                                     &fileRights)) {
        return "";
    }
    const std::string bytes = bytesOf(created);
    DestroyPrivateObjectSecurity(&created);
    return bytes;
}

clPrivateSecurity::clPrivateSecurity() {
    clToken token;
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    user.resize(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) return;
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    list.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    const PACL acl = reinterpret_cast<PACL>(list.data());
    made = InitializeAcl(acl, static_cast<DWORD>(list.size()), ACL_REVISION) &&
           AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
           InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
           SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes = {sizeof attributes, &descriptor, FALSE};
}

bool clOutputFile::takeAttributes(const clPlace& place) {
    const HANDLE file = static_cast<HANDLE>(state.handle);
    if (!file) return false;
    // The old file's security, or a new file's as the directory gives it.
    const std::string& security = place.hostState().security;
    if (keepsSecurity(file) && !security.empty() && !giveSecurity(file, security)) return false;
    // Its attributes but read-only, which stops the move, and its creation
    // time; marked for backup, as its content changed.
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
    basic.FileAttributes = (place.hostState().attributes &
                            (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)) |
                           FILE_ATTRIBUTE_ARCHIVE;
    if (place.kind() == PLACE_REGULAR) basic.CreationTime.QuadPart = place.hostState().created;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

}  // namespace host

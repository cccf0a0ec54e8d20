#include "transport/windows/PassThroughDevice.h"

#include <memory>

#include "transport/PlatformDevice.h"

namespace qdx {

namespace {

std::string SystemMessage(DWORD error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message;
    if (length != 0 && text != nullptr) {
        message.assign(text, length);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == ' ' || message.back() == '.')) {
            message.pop_back();
        }
    }
    if (text != nullptr) {
        LocalFree(text);
    }
    if (message.empty()) {
        message = "system error " + std::to_string(error);
    }
    return message;
}

}  // namespace

PassThroughDevice::PassThroughDevice(HANDLE volume) : m_volume(volume) {}

PassThroughDevice::~PassThroughDevice() {
    Close();
}

bool PassThroughDevice::Send(const CommandDescription& command) {
    m_last = TransportStatus{};
    if (m_volume == INVALID_HANDLE_VALUE) {
        m_last.osError = ERROR_INVALID_HANDLE;
        return false;
    }
    PassThroughRecord record;
    FillPassThroughRecord(command, &record);
    DWORD bytesReturned = 0;
    BOOL ok = DeviceIoControl(m_volume, kIoctlScsiPassThroughDirect, &record, sizeof record,
                              &record, sizeof record, &bytesReturned, nullptr);
    if (!ok) {
        m_last.osError = static_cast<int>(GetLastError());
        return false;
    }
    m_last.delivered = true;
    m_last.scsiStatus = record.header.ScsiStatus;
    return true;
}

void PassThroughDevice::Close() {
    if (m_volume != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_volume);
        m_volume = INVALID_HANDLE_VALUE;
    }
}

DeviceHandle OpenPlatformDevice(const std::string& path, std::string* why) {
    std::string unused;
    if (why == nullptr) {
        why = &unused;
    }
    std::string volume = VolumePathFor(path);
    if (volume.empty()) {
        *why = path + ": not a drive (expected a drive letter such as E:)";
        return nullptr;
    }
    HANDLE handle = CreateFileA(volume.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_NO_BUFFERING, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            *why = volume + ": no such drive";
        } else if (error == ERROR_ACCESS_DENIED) {
            *why = volume + ": access denied; run the program as administrator";
        } else {
            *why = volume + ": " + SystemMessage(error);
        }
        return nullptr;
    }
    return std::make_shared<PassThroughDevice>(handle);
}

}  // namespace qdx

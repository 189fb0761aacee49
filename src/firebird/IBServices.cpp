#include "firebird/IBServices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "firebird/IB.h"
#include "firebird/IBIntf.h"

namespace qv {

namespace {

std::function<void(const std::string&)>& TraceSink() {
    static std::function<void(const std::string&)> sink;
    return sink;
}

constexpr size_t kMaxSpbValue = 255;      // one length byte
constexpr size_t kMaxBlock = 65535;       // sent with a 16-bit length
constexpr int32_t kQueryWaitSeconds = 1;  // the longest the server may hold one query

const char* const kKnownParams[] = {"user_name",
                                    "sys_user_name",
                                    "sys_user_name_enc",
                                    "password",
                                    "password_enc",
                                    "command_line",
                                    "db_name",
                                    "verbose",
                                    "options",
                                    "connect_timeout",
                                    "dummy_packet_interval",
                                    "sql_role_name"};

}  // namespace

void SetTraceSink(std::function<void(const std::string&)> sink) {
    TraceSink() = std::move(sink);
}

TIBCustomService::TIBCustomService(TComponent* owner) : TComponent(owner) {
    EnsureClientLibrary();
    params_.OnChanging = [this] { CheckInactive(); };
    params_.OnChange = [this] { params_changed_ = true; };
}

TIBCustomService::~TIBCustomService() {
    // A destructor cannot pass the detach error on; the handle is dropped all the same.
    if (Active()) {
        try {
            Detach();
        } catch (const std::exception&) {
        }
    }
}

void TIBCustomService::SetActive(bool value) {
    if (Loading()) {
        stream_active_ = value;
        return;
    }
    if (value == Active()) return;
    if (value)
        Attach();
    else
        Detach();
}

void TIBCustomService::Loaded() {
    TComponent::Loaded();
    if (!stream_active_ || Active()) return;
    try {
        Attach();
    } catch (const std::exception&) {
        if (!Designing()) throw;
        // In the designer the error only goes to the application's report.
    }
}

void TIBCustomService::SetServerName(const std::string& value) {
    if (value == server_name_) return;
    CheckInactive();
    server_name_ = value;
}

void TIBCustomService::SetProtocol(TProtocol value) {
    if (value == protocol_) return;
    CheckInactive();
    protocol_ = value;
    if (protocol_ == TProtocol::Local) server_name_.clear();
}

void TIBCustomService::CheckInactive() const {
    if (handle_ != 0) RaiseClientError(ClientErrorCode::ServiceAttached);
}

void TIBCustomService::CheckActive() {
    if (stream_active_ && !Active()) Attach();
    if (handle_ == 0) RaiseClientError(ClientErrorCode::ServiceNotAttached);
}

void TIBCustomService::TraceReport(const std::string& what) const {
    if ((trace_flags_ & tfService) && TraceSink()) TraceSink()(Name() + ": " + what);
}

std::string TIBCustomService::ConnectString() const {
    return ConnectStringFor(protocol_, server_name_, "service_mgr");
}

std::string TIBCustomService::ConnectStringFor(TProtocol protocol, const std::string& server,
                                               const std::string& object) {
    switch (protocol) {
        case TProtocol::TCP:
            return server + ":" + object;
        case TProtocol::SPX:
            return server + "@" + object;
        case TProtocol::NamedPipe:
            return "\\\\" + server + "\\" + object;
        case TProtocol::Local:
            break;
    }
    return object;
}

std::string TIBCustomService::BuildAttachBlock() const {
    std::string block{static_cast<char>(isc_spb_version),
                      static_cast<char>(isc_spb_current_version)};
    for (const std::string& line : params_.Lines()) {
        size_t eq = line.find('=');
        std::string name = eq == std::string::npos ? "" : line.substr(0, eq);
        if (Trim(name).empty()) continue;
        name = LowerAscii(name);
        std::string value = line.substr(eq + 1);
        if (StartsWith(name, "isc_spb_")) name = name.substr(8);
        uint8_t code = 0;
        if (name == "user_name")
            code = isc_spb_user_name;
        else if (name == "password")
            code = isc_spb_password;
        if (code == 0) {
            for (const char* known : kKnownParams)
                if (name == known)
                    RaiseClientError(ClientErrorCode::ServiceParamNotSupported, {name});
            RaiseClientError(ClientErrorCode::ServiceParamUnknown, {name});
        }
        if (value.size() > kMaxSpbValue)
            RaiseClientError(ClientErrorCode::ServiceParamTooLong, {name});
        block += static_cast<char>(code);
        block += static_cast<char>(value.size());
        block += value;
    }
    if (block.size() > kMaxBlock) RaiseClientError(ClientErrorCode::ServiceRequestTooLong);
    return block;
}

bool TIBCustomService::Login() {
    if (!OnLogin) return false;
    TStringList login_params;
    login_params.Assign(params_);
    OnLogin(this, login_params);
    params_.Assign(login_params);
    return true;
}

void TIBCustomService::Attach() {
    CheckInactive();
    if (server_name_.empty() && protocol_ != TProtocol::Local)
        RaiseClientError(ClientErrorCode::ServerNameMissing);
    if (login_prompt_ && !Login()) RaiseClientError(ClientErrorCode::OperationCancelled);
    if (params_changed_) {
        // Built whole or not at all: after an error the next attach builds it again.
        attach_block_ = BuildAttachBlock();
        params_changed_ = false;
    }
    const std::string service = ConnectString();
    if (service.size() > kMaxBlock) RaiseClientError(ClientErrorCode::ServiceRequestTooLong);
    // The attach may wait on the network (a host that never answers, a listener that never
    // replies): it is bounded so that the window is never held for long.
    handle_ = 0;
    auto slot = std::make_shared<isc_svc_handle>(0);
    CallWithin(
        [slot, service, block = attach_block_] {
            if (ClientLibrary::ServiceAttach(
                    StatusVector(), static_cast<unsigned short>(service.size()), service.data(),
                    slot.get(), static_cast<unsigned short>(block.size()), block.data()) > 0) {
                *slot = 0;
                RaiseStatusError();  // from the calling thread's own status vector
            }
        },
        [slot] {
            // An attachment that came too late is closed again.
            if (*slot) ClientLibrary::ServiceDetach(StatusVector(), slot.get());
        });
    handle_ = *slot;
    if (OnAttach) OnAttach(this);
    TraceReport("[Attach]");
}

void TIBCustomService::Detach() {
    CheckActive();
    auto slot = std::make_shared<isc_svc_handle>(handle_);
    handle_ = 0;  // detached whatever the result
    CallWithin([slot] {
        if (ClientLibrary::ServiceDetach(StatusVector(), slot.get()) > 0) RaiseStatusError();
    });
    TraceReport("[Detach]");
}

void TIBCustomService::HandOver(TIBCustomService& to) {
    if (handle_ == 0) RaiseClientError(ClientErrorCode::ServiceNotAttached);
    to.CheckInactive();
    to.handle_ = handle_;
    handle_ = 0;
}

void TIBControlService::AppendStringItem(const std::string& value, uint8_t code) {
    if (value.empty()) return;
    if (value.size() > kMaxBlock) RaiseClientError(ClientErrorCode::ServiceRequestTooLong);
    start_params_ += static_cast<char>(code);
    start_params_ += static_cast<char>(value.size() & 0xFF);
    start_params_ += static_cast<char>((value.size() >> 8) & 0xFF);
    start_params_ += value;
}

void TIBControlService::AppendIntegerItem(int32_t value, uint8_t code) {
    auto v = static_cast<uint32_t>(value);
    start_params_ += static_cast<char>(code);
    for (int i = 0; i < 4; ++i) start_params_ += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void TIBControlService::ServiceStart() {
    CheckActive();
    try {
        PrepareStartRequest();
    } catch (...) {
        start_params_.clear();
        throw;
    }
    // The start block lives only for the call: released and emptied on every path.
    struct Release {
        std::string& params;
        std::string block;
        ~Release() {
            block.clear();
            block.shrink_to_fit();
            params.clear();
        }
    } start{start_params_, {}};
    if (start_params_.empty()) RaiseClientError(ClientErrorCode::StartParamsMissing);
    if (start_params_.size() > kMaxBlock) RaiseClientError(ClientErrorCode::ServiceRequestTooLong);
    start.block = start_params_;
    auto slot = std::make_shared<isc_svc_handle>(HandleRef());
    auto close = [slot] {
        ISC_STATUS own[kStatusLength] = {};  // never overwrites the start's failure
        if (*slot) ClientLibrary::ServiceDetach(own, slot.get());
        *slot = 0;
    };
    try {
        CallWithin(
            [slot, close, block = start.block] {
                if (ClientLibrary::ServiceStart(StatusVector(), slot.get(), nullptr,
                                                static_cast<unsigned short>(block.size()),
                                                block.data()) > 0) {
                    // The start's failure is read first; then the attachment is closed, so a
                    // failed run leaves no connection behind.
                    const std::exception_ptr failure = StatusError();
                    close();
                    std::rethrow_exception(failure);
                }
            },
            close);  // a start that answers after the bound is not followed
    } catch (...) {
        HandleRef() = 0;  // closed by the worker, now or once the late start returns
        throw;
    }
    TraceReport("[Start]");
}

void TIBControlAndQueryService::SetBufferSize(int32_t value) {
    if (value == buffer_size_) return;
    buffer_size_ = value;
    if (has_output_buffer_) output_buffer_.assign(static_cast<size_t>(value > 0 ? value : 0), '\0');
}

const std::string& TIBControlAndQueryService::RunningQuerySend() {
    // The item, its 2-byte length (4), the 4-byte value. The server reads every send item's
    // length first: without it the wait would be read as 0, which waits for output unbounded.
    static const std::string send = std::string{static_cast<char>(isc_info_svc_timeout), 4, 0} +
                                    static_cast<char>(kQueryWaitSeconds) + std::string(3, '\0');
    return send;
}

const std::string& TIBControlAndQueryService::RunningQueryRequest() {
    static const std::string request(1, static_cast<char>(isc_info_svc_running));
    return request;
}

const std::string& TIBControlAndQueryService::LineQueryRequest() {
    static const std::string request(1, static_cast<char>(isc_info_svc_line));
    return request;
}

const std::string& TIBControlAndQueryService::Query(const std::string& send,
                                                    const std::string& request) {
    CheckActive();
    if (send.size() > kMaxBlock) RaiseClientError(ClientErrorCode::ServiceRequestTooLong);
    const size_t size = static_cast<size_t>(std::clamp(buffer_size_, 16, 65535));
    if (!query_send_) query_send_ = std::make_shared<std::string>();
    if (!query_answer_) query_answer_ = std::make_shared<std::string>();
    std::shared_ptr<std::string> sent = query_send_, answer = query_answer_;
    sent->assign(send);
    answer->assign(size, '\0');
    auto slot = std::make_shared<isc_svc_handle>(HandleRef());
    try {
        CallWithin([slot, answer, sent, request] {
            if (ClientLibrary::ServiceQuery(
                    StatusVector(), slot.get(), nullptr, static_cast<unsigned short>(sent->size()),
                    sent->data(), static_cast<unsigned short>(request.size()), request.data(),
                    static_cast<unsigned short>(answer->size()), answer->data()) > 0)
                RaiseStatusError();
        });
    } catch (...) {
        // A call left running at its bound may still use them.
        query_send_.reset();
        query_answer_.reset();
        throw;
    }
    return *answer;
}

bool TIBControlAndQueryService::IsServiceRunning() {
    const std::string& answer = Query(RunningQuerySend(), RunningQueryRequest());
    // The item, then a 4-byte little-endian integer: 1 while the action runs, 0 once it ended.
    const auto* a = reinterpret_cast<const unsigned char*>(answer.data());
    if (a[0] != isc_info_svc_running) RaiseClientError(ClientErrorCode::ServiceAnswerUnknown);
    const uint32_t running = a[1] | a[2] << 8 | a[3] << 16 | static_cast<uint32_t>(a[4]) << 24;
    return running != 0;
}

std::string TIBControlAndQueryService::GetNextLine() {
    if (output_ended_) return {};
    const std::string& answer = Query(LineQuerySend(), LineQueryItems());
    // The items asked for, in their order, then isc_info_end: the line (the item, a 2-byte
    // little-endian length, the text), followed by a flag when the wait ran out
    // (isc_info_svc_timeout) or nothing was ready (isc_info_data_not_ready); for a fed restore
    // the bytes the server takes now (the item, a 4-byte little-endian count). An empty line
    // without a flag, and no bytes asked for, is the end of the output: the action has ended.
    const auto* a = reinterpret_cast<const unsigned char*>(answer.data());
    const size_t size = answer.size();
    auto unknown = [] { RaiseClientError(ClientErrorCode::ServiceAnswerUnknown); };
    std::string line;
    bool has_line = false, waiting = false;
    uint32_t asked = 0;
    size_t at = 0;
    for (; at < size && a[at] != isc_info_end; ++at) {
        switch (a[at]) {
            case isc_info_svc_line: {
                if (at + 3 > size) unknown();
                const size_t length = a[at + 1] | static_cast<size_t>(a[at + 2]) << 8;
                if (at + 3 + length > size) unknown();
                line = answer.substr(at + 3, length);
                has_line = true;
                at += 2 + length;
                break;
            }
            case isc_info_svc_timeout:
            case isc_info_data_not_ready:
            case isc_info_truncated:
                waiting = true;
                break;
            case isc_info_svc_stdin:
                if (at + 5 > size) unknown();
                asked = a[at + 1] | a[at + 2] << 8 | a[at + 3] << 16 |
                        static_cast<uint32_t>(a[at + 4]) << 24;
                at += 4;
                break;
            default:
                unknown();
        }
    }
    if (!has_line || at >= size) unknown();
    StdinAsked(asked);
    if (line.empty() && !waiting && asked == 0) output_ended_ = true;
    return line;
}

const std::string& TIBControlAndQueryService::BytesQueryRequest() {
    static const std::string request(1, static_cast<char>(isc_info_svc_to_eof));
    return request;
}

std::string TIBControlAndQueryService::GetNextBytes() {
    if (output_ended_) return {};
    const std::string& answer = Query(RunningQuerySend(), BytesQueryRequest());
    // The item, a 2-byte little-endian length, the bytes; then a flag when more is waiting
    // (isc_info_truncated), the wait ran out (isc_info_svc_timeout) or nothing was ready
    // (isc_info_data_not_ready); then isc_info_end. No bytes and no flag: the output has ended.
    const auto* a = reinterpret_cast<const unsigned char*>(answer.data());
    const size_t size = answer.size();
    if (size < 3 || a[0] != isc_info_svc_to_eof)
        RaiseClientError(ClientErrorCode::ServiceAnswerUnknown);
    const size_t length = a[1] | static_cast<size_t>(a[2]) << 8;
    size_t at = 3 + length;
    if (at > size) RaiseClientError(ClientErrorCode::ServiceAnswerUnknown);
    bool waiting = false;
    for (; at < size && a[at] != isc_info_end; ++at) {
        switch (a[at]) {
            case isc_info_svc_timeout:
            case isc_info_data_not_ready:
            case isc_info_truncated:
                waiting = true;
                break;
            default:
                RaiseClientError(ClientErrorCode::ServiceAnswerUnknown);
        }
    }
    if (at >= size) RaiseClientError(ClientErrorCode::ServiceAnswerUnknown);
    if (length == 0 && !waiting) output_ended_ = true;
    return answer.substr(3, length);
}

void TIBBackupService::PrepareStartRequest() {
    if (database_name_.empty()) RaiseClientError(ClientErrorCode::StartParamsMissing);
    SetAction(isc_action_svc_backup);
    start_params_.assign(1, static_cast<char>(isc_action_svc_backup));
    AppendStringItem(database_name_, isc_spb_dbname);
    AppendIntegerItem(static_cast<int32_t>(options_), isc_spb_options);
    if (Verbose()) start_params_ += static_cast<char>(isc_spb_verbose);
    if (blocking_factor_ > 0) AppendIntegerItem(blocking_factor_, isc_spb_bkp_factor);
    for (const std::string& line : backup_file_.Lines()) {
        if (Trim(line).empty()) continue;
        // "name=length" only when a number follows the last "=": a directory or a file name
        // may itself hold "=".
        size_t eq = line.rfind('=');
        std::optional<int32_t> length;
        if (eq != std::string::npos) length = ParseInt32(line.substr(eq + 1));
        if (!length) {
            AppendStringItem(line, isc_spb_bkp_file);
        } else {
            AppendStringItem(line.substr(0, eq), isc_spb_bkp_file);
            AppendIntegerItem(*length, isc_spb_bkp_length);
        }
    }
}

// A file of this machine, read piece by piece.
class TIBRestoreService::TLocalFile {
public:
    explicit TLocalFile(const std::string& path) : path_(path) {
        fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) Fail(errno);
        struct stat st {};
        if (fstat(fd_, &st) != 0) Fail(errno);
        if (!S_ISREG(st.st_mode)) {
            close(fd_);
            throw EOSError(0, "cannot read " + path_ + ": not a regular file");
        }
    }
    ~TLocalFile() {
        if (fd_ >= 0) close(fd_);
    }
    TLocalFile(const TLocalFile&) = delete;
    TLocalFile& operator=(const TLocalFile&) = delete;

    // Appends the next `most` bytes to `to`; fewer only at the end of the file. The count.
    size_t AppendTo(std::string& to, size_t most) {
        const size_t start = to.size();
        to.resize(start + most);
        size_t got = 0;
        while (got < most) {
            const ssize_t n = read(fd_, to.data() + start + got, most - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) Fail(errno);
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        to.resize(start + got);
        return got;
    }

private:
    [[noreturn]] void Fail(int error) {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        throw EOSError(error, "cannot read " + path_ + ": " + std::strerror(error));
    }

    std::string path_;
    int fd_ = -1;
};

const size_t TIBRestoreService::kMostFedBytes = kMaxBlock - RunningQuerySend().size() - 3;

TIBRestoreService::TIBRestoreService(TComponent* owner) : TIBBackupRestoreService(owner) {}
TIBRestoreService::~TIBRestoreService() = default;

void TIBRestoreService::FeedFrom(const std::string& local_file) {
    feed_.reset();
    asked_ = 0;
    feed_ended_ = false;
    if (!local_file.empty()) feed_ = std::make_unique<TLocalFile>(local_file);
}

void TIBRestoreService::PrepareStartRequest() {
    if (database_name_.empty()) RaiseClientError(ClientErrorCode::StartParamsMissing);
    SetAction(isc_action_svc_restore);
    start_params_.assign(1, static_cast<char>(isc_action_svc_restore));
    bool any_file = false;
    if (feed_) {
        AppendStringItem("stdin", isc_spb_bkp_file);
        any_file = true;
    }
    for (const std::string& line : backup_file_.Lines()) {
        if (feed_ || Trim(line).empty()) continue;
        AppendStringItem(line, isc_spb_bkp_file);
        any_file = true;
    }
    if (!any_file) RaiseClientError(ClientErrorCode::StartParamsMissing);
    AppendStringItem(database_name_, isc_spb_dbname);
    AppendIntegerItem(static_cast<int32_t>(options_), isc_spb_options);
    if (Verbose()) start_params_ += static_cast<char>(isc_spb_verbose);
}

const std::string& TIBRestoreService::LineQuerySend() {
    if (!FeedPending()) return RunningQuerySend();
    // The wait, then the line item: its head, then the data read straight behind it.
    fed_send_.assign(RunningQuerySend());
    const size_t head = fed_send_.size();
    fed_send_.append(3, '\0');
    const size_t length = feed_->AppendTo(fed_send_, std::min<size_t>(asked_, kMostFedBytes));
    asked_ = 0;
    if (length == 0) feed_ended_ = true;
    fed_send_[head] = static_cast<char>(isc_info_svc_line);
    fed_send_[head + 1] = static_cast<char>(length & 0xFF);
    fed_send_[head + 2] = static_cast<char>((length >> 8) & 0xFF);
    return fed_send_;
}

const std::string& TIBRestoreService::LineQueryItems() const {
    static const std::string fed{static_cast<char>(isc_info_svc_line),
                                 static_cast<char>(isc_info_svc_stdin)};
    return feed_ ? fed : LineQueryRequest();
}

}  // namespace qv

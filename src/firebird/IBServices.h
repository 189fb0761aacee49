#pragma once
// Service components: one attachment to the server's service manager, and the class chain
// that builds and sends a backup start request.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "firebird/ClientWorker.h"
#include "platform/Component.h"
#include "firebird/IBHeader.h"
#include "platform/Strings.h"

namespace qv {

enum class TProtocol { TCP = 0, SPX = 1, NamedPipe = 2, Local = 3 };

enum TTraceFlag : uint16_t {
    tfQPrepare = 1 << 0,
    tfQExecute = 1 << 1,
    tfQFetch = 1 << 2,
    tfError = 1 << 3,
    tfStmt = 1 << 4,
    tfConnect = 1 << 5,
    tfTransact = 1 << 6,
    tfBlob = 1 << 7,
    tfService = 1 << 8,
    tfMisc = 1 << 9,
};
using TTraceFlags = uint16_t;

// Where trace reports go when tfService is set; nothing is recorded unless a sink is installed.
void SetTraceSink(std::function<void(const std::string&)> sink);

class TIBCustomService : public TComponent {
public:
    using TNotifyEvent = std::function<void(TIBCustomService* sender)>;
    using TLoginEvent = std::function<void(TIBCustomService* database, TStringList& login_params)>;

    explicit TIBCustomService(TComponent* owner);
    ~TIBCustomService() override;

    bool Active() const { return handle_ != 0; }
    void SetActive(bool value);
    const std::string& ServerName() const { return server_name_; }
    void SetServerName(const std::string& value);
    TProtocol Protocol() const { return protocol_; }
    void SetProtocol(TProtocol value);
    TStringList& Params() { return params_; }
    void SetParams(const TStringList& value) { params_.Assign(value); }
    bool LoginPrompt() const { return login_prompt_; }
    void SetLoginPrompt(bool value) { login_prompt_ = value; }
    TTraceFlags TraceFlags() const { return trace_flags_; }
    void SetTraceFlags(TTraceFlags value) { trace_flags_ = value; }
    TNotifyEvent OnAttach;
    TLoginEvent OnLogin;

    // The service name for ServerName and Protocol ("host:service_mgr", ...).
    std::string ConnectString() const;
    // The name by which a client reaches `object` (the service manager, or a database path as
    // the server sees it) on `server` over `protocol`: "host:object", "host@object",
    // "\\host\object", or the object alone for Local.
    static std::string ConnectStringFor(TProtocol protocol, const std::string& server,
                                        const std::string& object);
    // The attach parameter block last built from Params.
    const std::string& AttachBlock() const { return attach_block_; }
    isc_svc_handle Handle() const { return handle_; }
    // Gives the open attachment to `to`, which must be detached; this one is detached afterwards.
    void HandOver(TIBCustomService& to);

    // How long the caller waits for the service manager in an attach, start, query or detach;
    // 0 calls the library on the calling thread without a bound.
    int CallTimeout() const { return call_timeout_ms_; }
    void SetCallTimeout(int ms) { call_timeout_ms_ = ms; }
    static constexpr int kDefaultCallTimeoutMs = 10000;

protected:
    void Loaded() override;
    // Raises ServiceAttached while attached.
    void CheckInactive() const;
    // Attaches first when a stored Active is pending; raises ServiceNotAttached when detached.
    void CheckActive();
    void TraceReport(const std::string& what) const;
    isc_svc_handle& HandleRef() { return handle_; }
    // Runs a client call within CallTimeout (see TClientWorker::Run).
    void CallWithin(std::function<void()> call, std::function<void()> late = {}) {
        worker_.Run(call_timeout_ms_, std::move(call), std::move(late));
    }

    int32_t buffer_size_ = 32000;
    std::string output_buffer_;  // never created by this program
    bool has_output_buffer_ = false;

private:
    void Attach();
    void Detach();
    bool Login();
    std::string BuildAttachBlock() const;

    isc_svc_handle handle_ = 0;
    std::string server_name_;
    TProtocol protocol_ = TProtocol::Local;
    TStringList params_;
    bool params_changed_ = true;
    std::string attach_block_;
    bool login_prompt_ = true;
    TTraceFlags trace_flags_ = 0;
    bool stream_active_ = false;  // Active as read from the layout
    int call_timeout_ms_ = kDefaultCallTimeoutMs;
    TClientWorker worker_;
};

class TIBControlService : public TIBCustomService {
public:
    explicit TIBControlService(TComponent* owner) : TIBCustomService(owner) {}

    // Builds the action's request and sends it over the open attachment; returns once the
    // server accepted it.
    virtual void ServiceStart();

    // Item helpers: code, 2-byte length (low byte first), bytes; or code, 4-byte value.
    void AppendStringItem(const std::string& value, uint8_t code);
    void AppendIntegerItem(int32_t value, uint8_t code);
    const std::string& StartParams() const { return start_params_; }

protected:
    virtual void PrepareStartRequest() {}
    std::string start_params_;
};

class TIBControlAndQueryService : public TIBControlService {
public:
    explicit TIBControlAndQueryService(TComponent* owner) : TIBControlService(owner) {}

    int32_t BufferSize() const { return buffer_size_; }
    void SetBufferSize(int32_t value);
    int Action() const { return action_; }
    bool OutputEnded() const { return output_ended_; }

    // Asks the service manager whether the started action still runs. An action that failed
    // comes back as its failure status, raised as an exception.
    bool IsServiceRunning();
    // The query's item blocks, as sent.
    static const std::string& RunningQuerySend();
    static const std::string& RunningQueryRequest();

    // Asks for the started action's next line of output, which the server holds back for at
    // most a second: the line, or "" when none came meanwhile or the output has ended (then
    // OutputEnded is true). The server holds a verbose action while nobody reads its output,
    // so an action followed this way is read until OutputEnded. An action that failed comes
    // back as its failure status, raised as an exception.
    std::string GetNextLine();
    // The line query's receive items, as sent (the send items are RunningQuerySend's).
    static const std::string& LineQueryRequest();

    // Asks for the started action's output as raw bytes (a backup to "stdout": the backup
    // itself), which the server holds back for at most a second: what came, "" when nothing
    // came meanwhile or the output has ended (then OutputEnded is true). A backup to "stdout"
    // waits in the server while nobody reads, so it is read until OutputEnded. An action that
    // failed comes back as its failure status, raised as an exception.
    std::string GetNextBytes();
    // Its receive item (isc_info_svc_to_eof), as sent; the send items are RunningQuerySend's.
    static const std::string& BytesQueryRequest();

protected:
    void SetAction(int action) {
        action_ = action;
        output_ended_ = false;
    }
    // What a line query sends and asks for; a restore fed by the client adds its data and asks
    // how much more the server takes (StdinAsked hears the answer, 0 when it takes none).
    virtual const std::string& LineQuerySend() { return RunningQuerySend(); }
    virtual const std::string& LineQueryItems() const { return LineQueryRequest(); }
    virtual void StdinAsked(uint32_t bytes) { (void)bytes; }

private:
    // One query over the open attachment; the answer as the server wrote it, valid until the
    // next query.
    const std::string& Query(const std::string& send, const std::string& request);

    int action_ = 0;
    bool output_ended_ = false;
    // The last query's blocks, kept for the next one: a fed restore sends 64 KB per query,
    // and blocks allocated and freed each time cost the process more than the restore's own
    // data (freed memory handed back and faulted in again). A call abandoned at its bound
    // keeps its own, and the next query takes new ones.
    std::shared_ptr<std::string> query_send_;
    std::shared_ptr<std::string> query_answer_;
};

class TIBBackupRestoreService : public TIBControlAndQueryService {
public:
    explicit TIBBackupRestoreService(TComponent* owner) : TIBControlAndQueryService(owner) {}
    bool Verbose() const { return verbose_; }
    void SetVerbose(bool value) { verbose_ = value; }

private:
    bool verbose_ = false;
};

enum TBackupOption : uint32_t {
    IgnoreChecksums = isc_spb_bkp_ignore_checksums,
    IgnoreLimbo = isc_spb_bkp_ignore_limbo,
    MetadataOnly = isc_spb_bkp_metadata_only,
    NoGarbageCollection = isc_spb_bkp_no_garbage_collect,
    OldMetadataDesc = isc_spb_bkp_old_descriptions,
    NonTransportable = isc_spb_bkp_non_transportable,
    ConvertExtTables = isc_spb_bkp_convert,
};
using TBackupOptions = uint32_t;  // OR of TBackupOption bits

class TIBBackupService : public TIBBackupRestoreService {
public:
    explicit TIBBackupService(TComponent* owner) : TIBBackupRestoreService(owner) {}

    TStringList& BackupFile() { return backup_file_; }
    void SetBackupFile(const TStringList& value) { backup_file_.Assign(value); }
    int32_t BlockingFactor() const { return blocking_factor_; }
    void SetBlockingFactor(int32_t value) { blocking_factor_ = value; }
    const std::string& DatabaseName() const { return database_name_; }
    void SetDatabaseName(const std::string& value) { database_name_ = value; }
    TBackupOptions Options() const { return options_; }
    void SetOptions(TBackupOptions value) { options_ = value; }

protected:
    void PrepareStartRequest() override;

private:
    TStringList backup_file_;
    int32_t blocking_factor_ = 0;
    std::string database_name_;
    TBackupOptions options_ = 0;
};

enum TRestoreOption : uint32_t {
    DeactivateIndexes = isc_spb_res_deactivate_idx,
    NoShadow = isc_spb_res_no_shadow,
    NoValidityCheck = isc_spb_res_no_validity,
    OneRelationAtATime = isc_spb_res_one_at_a_time,
    Replace = isc_spb_res_replace,
    CreateNewDB = isc_spb_res_create,
    UseAllSpace = isc_spb_res_use_all_space,
};
using TRestoreOptions = uint32_t;  // OR of TRestoreOption bits

// Restores backup files into a database on the server:
// 02, each file (05 len16 name), database (6A len16 path), options (6C 4-byte), verbose (6B).
// Or restores a file of this machine that the client feeds to the server: the one file named
// is "stdin", every line query asks how many bytes the server takes now (isc_info_svc_stdin)
// and the next one sends at most that many as its isc_info_svc_line item; an empty one tells
// the restore the file has ended.
class TIBRestoreService : public TIBBackupRestoreService {
public:
    explicit TIBRestoreService(TComponent* owner);
    ~TIBRestoreService() override;

    TStringList& BackupFile() { return backup_file_; }
    void SetBackupFile(const TStringList& value) { backup_file_.Assign(value); }
    // The database to create, as the server sees its path.
    const std::string& DatabaseName() const { return database_name_; }
    void SetDatabaseName(const std::string& value) { database_name_ = value; }
    TRestoreOptions Options() const { return options_; }
    void SetOptions(TRestoreOptions value) { options_ = value; }

    // Feeds the restore from `local_file` on this machine instead of BackupFile; "" feeds
    // nothing. The file is opened at once: one this process cannot read raises EOSError with
    // the reason ("cannot read <file>: <why>") before anything is sent.
    void FeedFrom(const std::string& local_file);
    bool Fed() const { return feed_ != nullptr; }
    // Whether the server asked for bytes that the next line query will send.
    bool FeedPending() const { return feed_ && asked_ > 0; }
    // Whether the whole file has been sent, its end included.
    bool FeedEnded() const { return feed_ended_; }
    // The most bytes one line query carries: its send block holds at most 65 535 bytes, the
    // wait item and the line item's head included.
    static const size_t kMostFedBytes;

protected:
    void PrepareStartRequest() override;
    const std::string& LineQuerySend() override;
    const std::string& LineQueryItems() const override;
    void StdinAsked(uint32_t bytes) override { asked_ = bytes; }

private:
    class TLocalFile;

    TStringList backup_file_;
    std::string database_name_;
    TRestoreOptions options_ = CreateNewDB;
    std::unique_ptr<TLocalFile> feed_;
    uint32_t asked_ = 0;    // bytes the server takes now
    std::string fed_send_;  // the last line query's send block, kept for the next
    bool feed_ended_ = false;
};

}  // namespace qv

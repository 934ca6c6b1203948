// COmbrix: the scriptable control that holds the settings of every operation and fires
// Progress, Progress64 and Done.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>

#include "Ombrix_h.h"
#include "com/connection_point.h"
#include "com/error_reporting.h"
#include "com/holders.h"
#include "com/object.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "control/ole_control.h"
#include "control/persistence.h"
#include "base/buffer.h"
#include "base/status.h"
#include "crypto/symmetric.h"

namespace ombrix {

class cryptMAC;
class cryptHMAC;

class COmbrix : public com::DispatchImpl<IOmbrix>,
                public com::ErrorReporting<COmbrix, com::TableErrors<&CLSID_Ombrix>, &IID_IOmbrix>,
                public com::ConnectionPointContainerImpl,
                public com::ObjectRoot,
                public OleControl,
                public CipherOwner,
                public EventControl {
public:
    static constexpr wchar_t kProgId[] = L"Kestrane.Ombrix.1";
    static constexpr char kVersion[] = "2.2.5.115";

    // IObjectSafety is deliberately absent: the control writes files and signs executables, so
    // it must not declare itself safe for untrusted scripts and data.
    COM_INTERFACE_MAP(COmbrix,
        COM_INTERFACE(IOmbrix),
        COM_INTERFACE_AS(IDispatch, IOmbrix),
        COM_INTERFACE(IViewObjectEx),
        COM_INTERFACE_AS(IViewObject2, IViewObjectEx),
        COM_INTERFACE_AS(IViewObject, IViewObjectEx),
        COM_INTERFACE(IOleInPlaceObjectWindowless),
        COM_INTERFACE_AS(IOleInPlaceObject, IOleInPlaceObjectWindowless),
        COM_INTERFACE_AS(IOleWindow, IOleInPlaceObjectWindowless),
        COM_INTERFACE(IOleInPlaceActiveObject),
        COM_INTERFACE(IOleControl),
        COM_INTERFACE(IOleObject),
        COM_INTERFACE(IPersistStreamInit),
        COM_INTERFACE_AS(IPersist, IPersistStreamInit),
        COM_INTERFACE(ISupportErrorInfo),
        COM_INTERFACE(ISpecifyPropertyPages),
        COM_INTERFACE(IQuickActivate),
        COM_INTERFACE(IPersistStorage),
        COM_INTERFACE(IDataObject),
        COM_INTERFACE_AS(IProvideClassInfo, IProvideClassInfo2),
        COM_INTERFACE(IProvideClassInfo2),
        COM_INTERFACE(IConnectionPointContainer))

    COmbrix();
    ~COmbrix() override;

    // IOmbrix
    STDMETHODIMP get_type(CryptoTypes* value) override;
    STDMETHODIMP put_type(CryptoTypes value) override;
    STDMETHODIMP Encrypt(IBlob* data, IBlob* out_blob) override;
    STDMETHODIMP Decrypt(IBlob* data, IBlob* out_blob) override;
    STDMETHODIMP get_SecretKey(VARIANT* value) override;
    STDMETHODIMP put_SecretKey(VARIANT value) override;
    STDMETHODIMP Sign(IBlob* data, IBlob* out_blob) override;
    STDMETHODIMP Verify(IBlob* data, IBlob* signature, VARIANT_BOOL* valid) override;
    STDMETHODIMP Digest(IBlob* data, IBlob* out_blob) override;
    STDMETHODIMP get_BlockSize(short* value) override;
    STDMETHODIMP get_KeySize(short* value) override;
    STDMETHODIMP get_Optimized(VARIANT_BOOL* value) override;
    STDMETHODIMP put_Optimized(VARIANT_BOOL value) override;
    STDMETHODIMP About() override;
    STDMETHODIMP get_Version(BSTR* value) override;
    STDMETHODIMP put_Version(BSTR value) override;
    STDMETHODIMP Abort() override;
    STDMETHODIMP get_FireEvents(VARIANT_BOOL* value) override;
    STDMETHODIMP put_FireEvents(VARIANT_BOOL value) override;
    STDMETHODIMP get_DebugFile(BSTR* value) override;
    STDMETHODIMP put_DebugFile(BSTR value) override;
    STDMETHODIMP get_InitVector(VARIANT* value) override;
    STDMETHODIMP put_InitVector(VARIANT value) override;
    STDMETHODIMP get_Mode(CryptoModes* value) override;
    STDMETHODIMP put_Mode(CryptoModes value) override;
    STDMETHODIMP get_Padding(CryptoPadding* value) override;
    STDMETHODIMP put_Padding(CryptoPadding value) override;
    STDMETHODIMP get_Compression(CryptoCompression* value) override;
    STDMETHODIMP put_Compression(CryptoCompression value) override;
    STDMETHODIMP get_Language(LanguageEnum* value) override;
    STDMETHODIMP put_Language(LanguageEnum value) override;
    STDMETHODIMP HMAC(IBlob* data, IBlob* out_blob) override;
    STDMETHODIMP VerifyEXE(IBlob* data, ICertificate** certificate) override;
    STDMETHODIMP SignEXE(IBlob* data, IBlob* out_blob, VARIANT timestamp_url, VARIANT description,
                         VARIANT url) override;
    STDMETHODIMP get_FIPS(BSTR* value) override;
    STDMETHODIMP put_FIPS(BSTR value) override;
    STDMETHODIMP get_Encoding(LONG* value) override;
    STDMETHODIMP put_Encoding(LONG value) override;

    // Events. Each returns false when a handler released the control; an operation holds the
    // control (HoldSelf) and ends at once. Progress64 replaces Progress when the total needs
    // more than 32 bits.
    bool FireProgress(uint64_t position, uint64_t total) override;
    bool FireDone();

    // The needs-saving flag reported by the persistence interfaces.
    bool ControlModified() const override { return modified_; }
    void SetControlModified(bool modified) override { modified_ = modified; }

    // What the algorithm objects read from their owner control.
    int32_t CipherMode() const override { return mode_; }
    int32_t CipherPadding() const override { return padding_; }
    int32_t CipherCompression() const override { return compression_; }
    Buffer& CipherIvRegister() override { return iv_register_; }
    bool DebugLogEnabled() const override { return !debug_file_.Empty(); }
    void DebugLogLine(const char* line) override;
    bool EventsEnabled() const override { return fire_events_ != 0; }
    bool AbortRequested() const override { return abort_request_ != 0; }

protected:
    std::span<com::ConnectionPoint* const> ConnectionPoints() override { return connection_points_; }

    // What the persistence interfaces save and restore (persistence.cpp).
    PersistedProperties PersistedState() const override;
    HRESULT ApplyPersistedState(const PersistedProperties& state) override;

private:
    // 33016 when this control names a FIPS library but the process is not in FIPS mode.
    int32_t FipsLibraryCheck() const;
    bool Fire(DISPID id, std::initializer_list<LONG> arguments);
    // Writes a fixed line to the debug log when one is set.
    void Log(const char* line);
    // The argument's IBlob, logging "<operation>::<role> blob ok" or, with `log_invalid`,
    // "... invalid"; empty when the argument is no blob.
    com::Ptr<IBlob> LoggedBlob(IUnknown* argument, const char* operation, const char* role, bool log_invalid = true);
    // The algorithm object of an Encrypt or Decrypt, keyed: 0, or the code to raise.
    int32_t PrepareCipher(const char* operation, std::unique_ptr<cryptSYMMETRIC>& cipher);
    // Fires Done when events are on; false when a handler released the control.
    bool FinishOperation();
    // Digest and HMAC: feeds the whole of `data` (*size bytes) to `update` in 1024-byte pieces
    // with progress; 0, or 30008 when aborted or when a handler released the control.
    template <class UpdateFunction>
    Status FeedDigest(IBlob* data, IBlob* out_blob, UpdateFunction update, uint64_t* size);
    // Digest and HMAC: feeds `data` to the cached computation (made by `create` when there is
    // none) and, with an output blob, finishes it there.
    template <class Computation, class Create>
    HRESULT RunComputation(std::unique_ptr<Computation>& cached, IBlob* data, IBlob* out_blob, Create create);
    // Sign and Verify: the key-checked asymmetric object for the current Type, or the code.
    int32_t PrepareAsymmetric(const char* operation, bool key_now, std::unique_ptr<class cryptASYMMETRIC>& object);
    // Stores a setting the persistence interfaces save and marks the control modified.
    HRESULT PutSetting(int32_t& setting, int32_t value);
    // Drops the cached digest and HMAC computations.
    void DropCachedComputations();
    // Sets the IV register's length, keeping its bytes (growth exposes what the array holds).
    void SetIvRegisterLength(uint32_t length);

    int32_t type_ = AES;
    com::Variant secret_key_;
    com::Variant init_vector_;
    Buffer key_bytes_;
    Buffer iv_register_;
    int32_t certificate_handle_ = 0;
    int32_t optimized_ = 1;
    int32_t abort_request_ = 0;
    int32_t fire_events_ = 1;
    com::Bstr debug_file_;
    com::Bstr fips_;
    int32_t mode_ = ECB;
    int32_t padding_ = PadNull;
    int32_t compression_ = NoCompression;
    bool modified_ = true;
    // Running Digest and HMAC computations fed by calls without an output blob.
    std::unique_ptr<cryptMAC> cached_digest_;
    std::unique_ptr<cryptHMAC> cached_hmac_;

    com::ConnectionPoint events_{*this, *this, DIID__IOmbrixEvents};
    com::ConnectionPoint* const connection_points_[1] = {&events_};
};

// Key and block size in bytes of a Type's algorithm; both 0 for Types without one.
struct AlgorithmSizes {
    uint16_t key_size;
    uint16_t block_size;
};
AlgorithmSizes SizesOfType(int32_t type);

// Whether `type` names an algorithm of the component, and whether FIPS mode excludes it.
bool IsSupportedType(int32_t type);
bool IsExcludedInFipsMode(int32_t type);

}  // namespace ombrix

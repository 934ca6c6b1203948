// CCertificate: a small stand-in for the outside certificate component that the control talks
// to through ICertificate. It keeps a PEM private key, a PEM certificate and a handle to the
// certificate's CryptoAPI context (an index into the process's table that Ombrix.dll exports,
// see codesign/certificate_table.h).
// Members beyond those return E_NOTIMPL. It is a test and sample object, not part of the product.
#pragma once

#include "Ombrix_h.h"
#include "com/error_reporting.h"
#include "com/holders.h"
#include "com/object.h"
#include "codesign/certificate_table.h"

namespace certstandin {

using ombrix::CertContext;
using ombrix::ResolveHandle;
using ombrix::TableHandle;

// Inside Certificate.dll: makes the DLL's handles those of Ombrix.dll's table, loading Ombrix.dll
// from its registration when no one has yet. Linked into a program, the program's own table is
// already the control's. Called before any handle is used; not from DllMain.
void ShareOmbrixCertificateTable();

// The class's CLSID, {4D9AE59C-8651-4F93-8D07-74E3A4B412F8}.
inline constexpr CLSID CLSID_Certificate = {0x4d9ae59c, 0x8651, 0x4f93, {0x8d, 0x07, 0x74, 0xe3, 0xa4, 0xb4, 0x12, 0xf8}};

class CCertificate : public com::DispatchImpl<ICertificate>,
                     public com::SupportErrorInfoImpl<&IID_ICertificate>,
                     public com::ObjectRoot {
public:
    static constexpr wchar_t kProgId[] = L"Kestrane.Certificate.1";

    CCertificate() { ShareOmbrixCertificateTable(); }

    COM_INTERFACE_MAP(CCertificate,
        COM_INTERFACE(ICertificate),
        COM_INTERFACE(ISupportErrorInfo),
        COM_INTERFACE_AS(IDispatch, ICertificate))

    // The members this component serves.
    STDMETHODIMP get_PrivateKey(BSTR* value) override;
    STDMETHODIMP put_PrivateKey(BSTR value) override;
    STDMETHODIMP get_Data(BSTR* value) override;
    STDMETHODIMP put_Data(BSTR value) override;
    STDMETHODIMP get_Handle(LONG* value) override;
    STDMETHODIMP put_Handle(LONG value) override;
    STDMETHODIMP get_Text(BSTR* value) override;
    STDMETHODIMP put_Text(BSTR value) override;
    STDMETHODIMP get_HasPrivateKey(VARIANT_BOOL* value) override;

    // Not implemented.
    STDMETHODIMP get_Country(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_Country(BSTR) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_State(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_State(BSTR) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_Locality(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_Locality(BSTR) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_ValidFrom(DATE*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_ValidFrom(DATE) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_Organization(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_Organization(BSTR) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_Unit(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_Unit(BSTR) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_CommonName(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_CommonName(BSTR) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_Email(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_Email(BSTR) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_ValidTo(DATE*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_ValidTo(DATE) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_Issuer(ICertificate**) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_Version(LONG*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_Version(LONG) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_SerialNumber(LONG*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_SerialNumber(LONG) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_BitCount(short*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_BitCount(short) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_FriendlyName(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_FriendlyName(BSTR) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_PublicKey(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP put_PublicKey(BSTR) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_PublicKeyOpenSSH(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_PublicKeySSH(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_PublicKeyRSA1(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP About() override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP Load(BSTR, VARIANT) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP Save(BSTR, VARIANT) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP LoadKey(BSTR, VARIANT) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP GenerateKey(VARIANT) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP Request(BSTR) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP SaveKey(BSTR, VARIANT) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP Export(BSTR, VARIANT) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP Generate() override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP Show(BSTR, VARIANT) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_SerialNumberHex(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_SerialNumberDec(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_IssuerCountry(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_IssuerState(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_IssuerLocality(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_IssuerOrganization(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_IssuerUnit(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_IssuerCommonName(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_IssuerEmail(BSTR*) override try { return NotImplemented(); } COM_CATCH
    STDMETHODIMP get_IssuerText(BSTR*) override try { return NotImplemented(); } COM_CATCH

private:
    HRESULT NotImplemented() const;
    void ClearCertificate();

    // The private key as put, PEM text; null when none.
    com::Bstr private_key_;
    // The certificate: its PEM text and its slot in the table, or a handle that is no slot of
    // this table (one given out by someone else), kept as given.
    com::Bstr data_;
    TableHandle handle_;
    LONG foreign_handle_ = 0;
};

}  // namespace certstandin

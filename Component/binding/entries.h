// The crypto library binding table: every entry, in table order (index in the comment of
// each group). The list is expanded with these macros, each defined by the includer:
//
//   ENTRY(name)                 the linked OpenSSL function of that name; a FIPS library
//                               exports it by the same name.
//   RENAMED(name, successor)    OpenSSL 3.0 removed `name`; the slot binds `successor` and
//                               has its signature. A FIPS library exports a function with
//                               the successor's signature under `name`.
//   FIPS_SWITCH(name, type)     only a FIPS library has it; null in the linked binding.
//   UNLINKED(name, type)        no OpenSSL 3.0 successor and never called; null in the linked
//                               binding, still looked up in a FIPS library.
//   LINKED_ONLY(name)           the linked function; never looked up in a FIPS library, so
//                               null while one is bound.
//   OPTIONAL(name)              after the 146 entries of the table: the linked function,
//                               looked up in a FIPS library but allowed to be missing there
//                               (null then). Callers test it and fall back to table entries.
// The types of FIPS_SWITCH and UNLINKED are function pointer aliases declared in binding.h.
//
// Mapping of removed names (OpenSSL 1.0.2 -> 3.0):
//   EVP_MD_CTX_create / EVP_MD_CTX_destroy  -> EVP_MD_CTX_new / EVP_MD_CTX_free
//   HMAC_CTX_init / HMAC_CTX_cleanup        -> HMAC_CTX_new / HMAC_CTX_free (heap-owned context)
//   OPENSSL_add_all_algorithms_conf         -> OPENSSL_init_crypto
//   sk_value / sk_num                       -> OPENSSL_sk_value / OPENSSL_sk_num
//   i2d_ASN1_bytes                          -> none (slot kept empty)
//   RC5-32 block decryption, encryption, key setup -> RC5_32_decrypt, RC5_32_encrypt, RC5_32_set_key
//
// No include guard: the list is meant to be expanded several times.

/* 0 */   ENTRY(AES_cbc_encrypt)
          ENTRY(AES_ecb_encrypt)
          ENTRY(AES_set_decrypt_key)
          ENTRY(AES_set_encrypt_key)
          ENTRY(ASN1_STRING_free)
/* 5 */   ENTRY(BF_cbc_encrypt)
          ENTRY(BF_ecb_encrypt)
          ENTRY(BF_set_key)
          ENTRY(BIO_ctrl)
          ENTRY(BIO_f_base64)
/* 10 */  ENTRY(BIO_free)
          ENTRY(BIO_free_all)
          ENTRY(BIO_new)
          ENTRY(BIO_new_mem_buf)
          ENTRY(BIO_push)
/* 15 */  ENTRY(BIO_read)
          ENTRY(BIO_s_mem)
          ENTRY(BIO_set_flags)
          ENTRY(BIO_write)
          ENTRY(BN_CTX_free)
/* 20 */  ENTRY(BN_CTX_new)
          ENTRY(BN_add_word)
          ENTRY(BN_bin2bn)
          ENTRY(BN_bn2bin)
          ENTRY(BN_clear_free)
/* 25 */  ENTRY(BN_cmp)
          ENTRY(BN_div)
          ENTRY(BN_free)
          ENTRY(BN_hex2bn)
          ENTRY(BN_is_bit_set)
/* 30 */  ENTRY(BN_lshift)
          ENTRY(BN_new)
          ENTRY(BN_num_bits)
          ENTRY(BN_rand)
          ENTRY(BN_set_word)
/* 35 */  ENTRY(BN_sub)
          ENTRY(BN_value_one)
          ENTRY(CAST_cbc_encrypt)
          ENTRY(CAST_decrypt)
          ENTRY(CAST_encrypt)
/* 40 */  ENTRY(CAST_set_key)
          ENTRY(DES_crypt)
          ENTRY(DES_ecb_encrypt)
          ENTRY(DES_ede3_cbc_encrypt)
          ENTRY(DES_ncbc_encrypt)
/* 45 */  ENTRY(DES_set_key)
          ENTRY(DES_set_key_unchecked)
          ENTRY(DES_set_odd_parity)
          ENTRY(DH_compute_key)
          ENTRY(DH_free)
/* 50 */  ENTRY(DH_generate_key)
          ENTRY(DH_new)
          ENTRY(DH_size)
          ENTRY(DSA_SIG_free)
          ENTRY(DSA_SIG_new)
/* 55 */  ENTRY(DSA_do_sign)
          ENTRY(DSA_do_verify)
          ENTRY(DSA_free)
          ENTRY(DSA_new)
          ENTRY(DSA_sign)
/* 60 */  ENTRY(DSA_size)
          ENTRY(DSA_verify)
          ENTRY(ERR_error_string)
          ENTRY(EVP_DigestFinal)
          ENTRY(EVP_DigestInit)
/* 65 */  ENTRY(EVP_DigestInit_ex)
          ENTRY(EVP_DigestUpdate)
          RENAMED(EVP_MD_CTX_create, EVP_MD_CTX_new)
          RENAMED(EVP_MD_CTX_destroy, EVP_MD_CTX_free)
          ENTRY(EVP_PKEY_free)
/* 70 */  ENTRY(EVP_add_digest)
          ENTRY(EVP_md5)
          ENTRY(EVP_sha1)
          FIPS_SWITCH(FIPS_mode, FipsModeFunction)
          FIPS_SWITCH(FIPS_mode_set, FipsModeSetFunction)
/* 75 */  RENAMED(HMAC_CTX_cleanup, HMAC_CTX_free)
          RENAMED(HMAC_CTX_init, HMAC_CTX_new)
          ENTRY(HMAC_Final)
          ENTRY(HMAC_Init)
          ENTRY(HMAC_Init_ex)
/* 80 */  ENTRY(HMAC_Update)
          ENTRY(MD4_Final)
          ENTRY(MD4_Init)
          ENTRY(MD4_Update)
          ENTRY(MD5_Final)
/* 85 */  ENTRY(MD5_Init)
          ENTRY(MD5_Update)
          ENTRY(OBJ_create)
          ENTRY(OBJ_nid2obj)
          ENTRY(OBJ_txt2nid)
/* 90 */  RENAMED(OPENSSL_add_all_algorithms_conf, OPENSSL_init_crypto)
          ENTRY(PEM_ASN1_read_bio)
          ENTRY(PKCS7_add_signature)
          ENTRY(PKCS7_add_signed_attribute)
          ENTRY(PKCS7_content_new)
/* 95 */  ENTRY(PKCS7_dataFinal)
          ENTRY(PKCS7_dataInit)
          ENTRY(PKCS7_new)
          ENTRY(PKCS7_set_type)
          ENTRY(RAND_get_rand_method)
/* 100 */ ENTRY(RAND_set_rand_method)
          ENTRY(RC2_decrypt)
          ENTRY(RC2_encrypt)
          ENTRY(RC2_set_key)
          ENTRY(RC4_set_key)
/* 105 */ LINKED_ONLY(RC5_32_decrypt)
          LINKED_ONLY(RC5_32_encrypt)
          LINKED_ONLY(RC5_32_set_key)
          ENTRY(RSA_free)
          ENTRY(RSA_get_method)
/* 110 */ ENTRY(RSA_new)
          ENTRY(RSA_private_decrypt)
          ENTRY(RSA_private_encrypt)
          ENTRY(RSA_public_decrypt)
          ENTRY(RSA_public_encrypt)
/* 115 */ ENTRY(RSA_sign)
          ENTRY(RSA_size)
          ENTRY(RSA_verify)
          ENTRY(X509_free)
          ENTRY(X509_get_pubkey)
/* 120 */ ENTRY(X509_new)
          ENTRY(RC4)
          ENTRY(EVP_PKEY_new)
          ENTRY(i2d_PKCS7_SIGNER_INFO)
          ENTRY(OBJ_txt2obj)
/* 125 */ ENTRY(PEM_read_bio_PrivateKey)
          ENTRY(i2d_PKCS7)
          ENTRY(PKCS7_add_attribute)
          ENTRY(d2i_PKCS7_bio)
          ENTRY(PKCS7_add_certificate)
/* 130 */ RENAMED(sk_value, OPENSSL_sk_value)
          RENAMED(sk_num, OPENSSL_sk_num)
          ENTRY(ASN1_STRING_new)
          ENTRY(ASN1_STRING_set)
          ENTRY(CRYPTO_malloc)
/* 135 */ ENTRY(CRYPTO_free)
          UNLINKED(i2d_ASN1_bytes, I2dAsn1BytesFunction)
          ENTRY(PEM_read_bio_X509)
          ENTRY(ASN1_ANY_it)
          ENTRY(ASN1_OCTET_STRING_it)
/* 140 */ ENTRY(ASN1_OBJECT_it)
          ENTRY(ASN1_item_i2d)
          ENTRY(ASN1_item_d2i)
          ENTRY(ASN1_item_new)
          ENTRY(ASN1_item_free)
/* 145 */ ENTRY(EVP_DigestFinal_ex)

// Optional entries: OpenSSL's EVP cipher interface, which uses the processor's AES
// instructions where the low-level AES_* entries do not. The AES classes batch runs of blocks
// through them when they are bound and use AES_* otherwise; both give the same bytes.
/* 146 */ OPTIONAL(EVP_CIPHER_CTX_new)
          OPTIONAL(EVP_CIPHER_CTX_free)
          OPTIONAL(EVP_CipherInit_ex)
          OPTIONAL(EVP_CipherUpdate)
/* 150 */ OPTIONAL(EVP_CIPHER_CTX_set_padding)
          OPTIONAL(EVP_aes_128_ecb)
          OPTIONAL(EVP_aes_192_ecb)
          OPTIONAL(EVP_aes_256_ecb)
          OPTIONAL(EVP_aes_128_cbc)
/* 155 */ OPTIONAL(EVP_aes_192_cbc)
          OPTIONAL(EVP_aes_256_cbc)

// Optional entries: OpenSSL 1.1/3.0 accessors of the RSA, DSA and key objects, whose structures
// are opaque there. The RSA and DSA classes fill their keys and the private-key import reads
// keys through them; a library without them cannot key RSA or DSA (SetKey refuses, the import
// fails).
/* 157 */ OPTIONAL(RSA_set0_key)
          OPTIONAL(RSA_set0_factors)
          OPTIONAL(RSA_set0_crt_params)
/* 160 */ OPTIONAL(RSA_get0_key)
          OPTIONAL(RSA_get0_factors)
          OPTIONAL(RSA_get0_crt_params)
          OPTIONAL(DSA_set0_pqg)
          OPTIONAL(DSA_set0_key)
/* 165 */ OPTIONAL(DSA_get0_pqg)
          OPTIONAL(DSA_get0_key)
          OPTIONAL(EVP_PKEY_get_base_id)
          OPTIONAL(EVP_PKEY_get0_RSA)
          OPTIONAL(EVP_PKEY_get0_DSA)

// Optional entry: frees a PKCS#7 structure that the time-stamp client decoded from a server's
// response. A library without it leaves that structure allocated.
/* 170 */ OPTIONAL(PKCS7_free)

// Optional entries for executable signing: a key held in the platform's key store signs through
// a copy of the RSA method of its own (sign hook, signer as application data), and a PEM key is
// checked against its certificate. A library without the first group signs with PEM keys only;
// without X509_check_private_key the check is skipped.
/* 171 */ OPTIONAL(RSA_meth_dup)
          OPTIONAL(RSA_meth_free)
          OPTIONAL(RSA_meth_set_sign)
          OPTIONAL(RSA_meth_set0_app_data)
/* 175 */ OPTIONAL(RSA_meth_get0_app_data)
          OPTIONAL(RSA_set_method)
          OPTIONAL(RSA_set_flags)
          OPTIONAL(BN_dup)
          OPTIONAL(EVP_PKEY_assign)
/* 180 */ OPTIONAL(X509_check_private_key)

// Optional entries: the SHA-2 digests of Authenticode signatures and their time stamps. A library
// without them signs executables with MD5 and SHA-1 only.
/* 181 */ OPTIONAL(EVP_sha256)
          OPTIONAL(EVP_sha384)
          OPTIONAL(EVP_sha512)

// Optional entries for FIPS mode: with an OpenSSL 3 library only its EVP interface runs in the
// FIPS provider, so while one is bound DES, Triple DES and AES run there, never through the
// low-level DES_*/AES_* entries. A library without them (one that switches with FIPS_mode_set)
// runs the low-level entries.
/* 184 */ OPTIONAL(EVP_des_ecb)
          OPTIONAL(EVP_des_cbc)
          OPTIONAL(EVP_des_ede3_ecb)
          OPTIONAL(EVP_des_ede3_cbc)

// Optional entries for FIPS mode: the HMAC of an OpenSSL 3 library's provider. While one is bound
// the library HMACs (MD5, SHA-1) run through them; without them, through the HMAC_* entries.
/* 188 */ OPTIONAL(EVP_MAC_fetch)
          OPTIONAL(EVP_MAC_free)
          OPTIONAL(EVP_MAC_CTX_new)
/* 190 */ OPTIONAL(EVP_MAC_CTX_free)
          OPTIONAL(EVP_MAC_init)
          OPTIONAL(EVP_MAC_update)
          OPTIONAL(EVP_MAC_final)

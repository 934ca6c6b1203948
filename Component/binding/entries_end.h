// Ends a use of binding/entries.h: the six macros that the including code defined are gone again.
// No include guard: it follows every use.
#undef ENTRY
#undef RENAMED
#undef FIPS_SWITCH
#undef UNLINKED
#undef LINKED_ONLY
#undef OPTIONAL

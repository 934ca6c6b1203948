# The .def file of a DLL for the width being built, in OUT_VAR. A 32-bit DLL's stdcall exports are
# named by their decorated symbols (Name@bytes): otherwise the linker may take an import library's
# undecorated symbol of the same name (ole32 exports DllRegisterServer too) and export that.
function(ombrix_def_file out_var def)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(${out_var} "${def}" PARENT_SCOPE)
    return()
  endif()
  file(READ "${def}" text)
  foreach(export DllGetClassObject@12 DllCanUnloadNow@0 DllRegisterServer@0 DllUnregisterServer@0
                 OmbrixCertificateTable@0)
    string(REGEX MATCH "^[^@]+" name "${export}")
    string(REGEX REPLACE "([ \t])${name}([ \t\r\n])" "\\1${name} = ${export}\\2" text "${text}")
  endforeach()
  get_filename_component(file_name "${def}" NAME)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/x86_${file_name}")
  file(WRITE "${out}" "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${def}")
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

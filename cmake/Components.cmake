# Helpers that turn an IDL file, a class list and sources into a component DLL:
# widl makes the header, the GUID definitions and the type library; each class
# gets its registrar script from frame/class.rgs.in; windres embeds them all.

# Debian's cross tools (mingw-w64-tools) bring widl under the target's
# prefix; a plain widl (wine64-tools) is taken when that one is missing.
# A type library records the pointer size of the platform it describes, so
# the 32-bit DLLs get one built for win32. Both builds import the same
# stdole2.tlb: importlib only takes the names and identifiers of its
# interfaces, and widl writes a byte-identical library with Wine's 32-bit
# copy (libwine:i386), which would need the whole i386 architecture.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(QK_WIDL_TARGET i686-w64-mingw32)
  set(QK_WIDL_PLATFORM --win32)
else()
  set(QK_WIDL_TARGET x86_64-w64-mingw32)
  set(QK_WIDL_PLATFORM --win64)
endif()
find_program(WIDL NAMES ${QK_WIDL_TARGET}-widl widl REQUIRED)
set(WINE_IDL_DIR "/usr/include/wine/wine/windows" CACHE PATH "Folder holding Wine's oaidl.idl")
set(WINE_TLB_DIR "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows" CACHE PATH "Folder holding stdole2.tlb")

# component_idl(<prefix> <idl> [DEPENDS <header>...]): sets <prefix>_HEADER,
# <prefix>_IIDS, <prefix>_TLB. The IDL may #include headers of the tree (by
# their path from the top) that C++ shares; list them under DEPENDS.
function(component_idl prefix idl)
  cmake_parse_arguments(A "" "" "DEPENDS" ${ARGN})
  get_filename_component(name ${idl} NAME_WE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated)
  file(MAKE_DIRECTORY ${out})
  add_custom_command(
    OUTPUT ${out}/${name}.h ${out}/${name}_i.c ${out}/${name}.tlb
    COMMAND ${WIDL} ${QK_WIDL_PLATFORM} -I${WINE_IDL_DIR} -I${PROJECT_SOURCE_DIR} -L${WINE_TLB_DIR}
            -h -H ${out}/${name}.h -u -U ${out}/${name}_i.c -t -T ${out}/${name}.tlb
            ${CMAKE_CURRENT_SOURCE_DIR}/${idl}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${idl} ${A_DEPENDS} ${PROJECT_SOURCE_DIR}/frame/typelib_names.h
    COMMENT "widl ${idl}")
  set(${prefix}_HEADER ${out}/${name}.h PARENT_SCOPE)
  set(${prefix}_IIDS ${out}/${name}_i.c PARENT_SCOPE)
  set(${prefix}_TLB ${out}/${name}.tlb PARENT_SCOPE)
  set(${prefix}_INCLUDE ${out} PARENT_SCOPE)
endfunction()

# component_resources(<out-var> LIB <name> TLB <tlb> CLASSES <cls> <script> ...)
function(component_resources outvar)
  cmake_parse_arguments(A "" "LIB;TLB;DESCRIPTION" "CLASSES" ${ARGN})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(rc "#include <winver.h>\n1 TYPELIB \"${A_TLB}\"\n")
  set(deps ${A_TLB})
  list(LENGTH A_CLASSES n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET A_CLASSES ${i} CLS)
    list(GET A_CLASSES ${j} script)
    set(LIB ${A_LIB})
    configure_file(${PROJECT_SOURCE_DIR}/frame/class.rgs.in ${out}/${CLS}.rgs @ONLY)
    string(APPEND rc "${script} REGISTRY \"${out}/${CLS}.rgs\"\n")
    list(APPEND deps ${out}/${CLS}.rgs)
  endforeach()
  string(APPEND rc "
VS_VERSION_INFO VERSIONINFO
FILEVERSION 1,0,0,1
PRODUCTVERSION 1,0,0,1
FILETYPE VFT_DLL
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904B0\"
    BEGIN
      VALUE \"FileDescription\", \"${A_DESCRIPTION}\"
      VALUE \"FileVersion\", \"1.0.0.1\"
      VALUE \"InternalName\", \"${A_LIB}\"
      VALUE \"OriginalFilename\", \"${A_LIB}.dll\"
      VALUE \"ProductName\", \"${A_LIB}\"
      VALUE \"ProductVersion\", \"1.0.0.1\"
      VALUE \"OLESelfRegister\", \"\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1200
  END
END
")
  file(WRITE ${out}/${A_LIB}.rc.tmp "${rc}")
  configure_file(${out}/${A_LIB}.rc.tmp ${out}/${A_LIB}.rc COPYONLY)
  set_source_files_properties(${out}/${A_LIB}.rc PROPERTIES OBJECT_DEPENDS "${deps}")
  set(${outvar} ${out}/${A_LIB}.rc PARENT_SCOPE)
endfunction()

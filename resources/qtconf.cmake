# Qt reads the qt.conf beside the executable, and the installer's directory,
# where the programs live, may well hold one for the installer's own Qt (as
# Qt's deployment tools write it). Its paths would count from the
# installation, where this build's platform plugins are not, and Qt would
# abort. A qt.conf built into the programs (":/qt/etc/qt.conf") is read
# instead of any file beside them; it names every path of the Qt the build
# uses, absolute, since with any qt.conf the paths it leaves out count from
# the program's own directory. QT_PLUGIN_PATH, QT_QPA_PLATFORM_PLUGIN_PATH and
# -platform still work as Qt documents them.
#
# Not on Windows: the static programs there load no plugins from disk, and
# the paths of the Qt they were built with mean nothing on the user's
# machine. Sets ORVANE_QTCONF_RESOURCES to the resource file, or to nothing.
set(ORVANE_QTCONF_RESOURCES "")
if(WIN32)
    if(NOT ORVANE_QT_STATIC)
        message(WARNING "Orvane: a shared Qt on Windows loads its plugins beside the program, "
            "where the installer's own Qt may lie; release builds use the static Qt")
    endif()
    return()
endif()

# Each key of qt.conf with the name of its path among Qt's QT_INSTALL_ ones.
set(orvane_qtconf_keys
    Prefix=PREFIX Documentation=DOCS Headers=HEADERS Libraries=LIBS
    LibraryExecutables=LIBEXECS Binaries=BINS Plugins=PLUGINS ArchData=ARCHDATA Data=DATA
    Translations=TRANSLATIONS Examples=EXAMPLES Tests=TESTS Settings=CONFIGURATION)
if(ORVANE_QT_MAJOR EQUAL 5)
    list(APPEND orvane_qtconf_keys Imports=IMPORTS Qml2Imports=QML)
    # Qt 5's CMake files do not tell the paths; its qmake does.
    get_target_property(orvane_qmake Qt5::qmake IMPORTED_LOCATION)
    execute_process(COMMAND ${orvane_qmake} -query OUTPUT_VARIABLE orvane_query
        RESULT_VARIABLE orvane_query_result ERROR_QUIET)
    if(NOT orvane_query_result EQUAL 0)
        message(FATAL_ERROR "Orvane: ${orvane_qmake} -query failed; it tells Qt's paths")
    endif()
    string(REGEX MATCHALL "QT_INSTALL_[A-Z]+:[^\n]*" orvane_query "${orvane_query}")
    foreach(line IN LISTS orvane_query)
        string(REGEX REPLACE ":.*" "" name "${line}")
        string(REGEX REPLACE "^[^:]*:" "" value "${line}")
        set(orvane_${name} "${value}")
    endforeach()
else()
    list(APPEND orvane_qtconf_keys QmlImports=QML)
    # Relative to the prefix, which Qt 6 finds from where its CMake files lie.
    foreach(name PREFIX DOCS HEADERS LIBS LIBEXECS BINS PLUGINS ARCHDATA DATA TRANSLATIONS
            EXAMPLES TESTS CONFIGURATION QML)
        set(value "${QT6_INSTALL_${name}}")
        if(value)
            get_filename_component(value "${value}" ABSOLUTE BASE_DIR "${QT6_INSTALL_PREFIX}")
        endif()
        set(orvane_QT_INSTALL_${name} "${value}")
    endforeach()
endif()

set(orvane_qtconf "[Paths]\n")
foreach(entry IN LISTS orvane_qtconf_keys)
    string(REPLACE "=" ";" entry "${entry}")
    list(GET entry 0 key)
    list(GET entry 1 name)
    set(value "${orvane_QT_INSTALL_${name}}")
    if(NOT IS_ABSOLUTE "${value}")
        message(FATAL_ERROR "Orvane: Qt's ${key} path is not known (\"${value}\")")
    endif()
    # Quoted, with QSettings' escapes, so that no character is read as a list
    # separator or an escape.
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\"" "\\\"" value "${value}")
    string(APPEND orvane_qtconf "${key}=\"${value}\"\n")
endforeach()

set(orvane_qtconf_dir ${CMAKE_BINARY_DIR}/qtconf)
file(WRITE ${orvane_qtconf_dir}/qt.conf.in "${orvane_qtconf}")
file(WRITE ${orvane_qtconf_dir}/qtconf.qrc.in
    "<RCC>\n    <qresource prefix=\"/qt/etc\">\n        <file>qt.conf</file>\n"
    "    </qresource>\n</RCC>\n")
# Written only when they change, so that nothing is compiled again each time.
configure_file(${orvane_qtconf_dir}/qt.conf.in ${orvane_qtconf_dir}/qt.conf COPYONLY)
configure_file(${orvane_qtconf_dir}/qtconf.qrc.in ${orvane_qtconf_dir}/qtconf.qrc COPYONLY)
set(ORVANE_QTCONF_RESOURCES ${orvane_qtconf_dir}/qtconf.qrc)
message(STATUS "Orvane: Qt's paths built in as qt.conf, plugins from ${orvane_QT_INSTALL_PLUGINS}")

# Qt's own Russian translation, built into OrvanePaths so that Qt's dialogs
# speak Russian even where Qt's translations are not installed. It is copied
# from the translations of the Qt the build uses (Debian: qttranslations5-l10n,
# qt6-translations-l10n); without them the build goes on without it.
# Sets ORVANE_TRANSLATION_RESOURCES to the resource file, or to nothing.
set(ORVANE_TRANSLATION_RESOURCES "")
if(ORVANE_QT_MAJOR EQUAL 5 AND TARGET Qt5::qmake)
    get_target_property(orvane_qt_query Qt5::qmake IMPORTED_LOCATION)
elseif(TARGET Qt6::qtpaths)
    get_target_property(orvane_qt_query Qt6::qtpaths IMPORTED_LOCATION)
endif()
if(orvane_qt_query)
    execute_process(COMMAND ${orvane_qt_query} -query QT_INSTALL_TRANSLATIONS
        OUTPUT_VARIABLE orvane_qt_translations OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
# A cross-built Qt (the Windows one) has no translations of its own; the
# build machine's Qt of the same major version has the same file.
if(NOT EXISTS "${orvane_qt_translations}/qtbase_ru.qm"
        AND EXISTS "/usr/share/qt${ORVANE_QT_MAJOR}/translations/qtbase_ru.qm")
    set(orvane_qt_translations "/usr/share/qt${ORVANE_QT_MAJOR}/translations")
endif()
if(orvane_qt_translations AND EXISTS "${orvane_qt_translations}/qtbase_ru.qm")
    set(orvane_translation_dir ${CMAKE_BINARY_DIR}/translations)
    configure_file("${orvane_qt_translations}/qtbase_ru.qm"
        ${orvane_translation_dir}/qtbase_ru.qm COPYONLY)
    file(WRITE ${orvane_translation_dir}/translations.qrc.in
        "<RCC>\n    <qresource prefix=\"/translations\">\n"
        "        <file>qtbase_ru.qm</file>\n    </qresource>\n</RCC>\n")
    # Written only when it changes, so that it is not compiled again each time.
    configure_file(${orvane_translation_dir}/translations.qrc.in
        ${orvane_translation_dir}/translations.qrc COPYONLY)
    set(ORVANE_TRANSLATION_RESOURCES ${orvane_translation_dir}/translations.qrc)
    message(STATUS "Orvane: Qt's Russian translation built in from ${orvane_qt_translations}")
else()
    message(STATUS "Orvane: qtbase_ru.qm not found; Qt's dialogs speak Russian only where "
        "Qt's translations are installed")
endif()

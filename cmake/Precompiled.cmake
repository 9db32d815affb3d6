# Most of a build is the parsing of Qt's and the standard library's headers.
# Each larger library parses the common ones once, not once a file; the tests
# share one parse for all of them.
option(FABLEWICK_PCH "Precompile the headers that most files include" ON)

set(FABLEWICK_PCH_CORE
    <algorithm> <atomic> <functional> <memory> <optional> <vector>
    <QByteArray> <QDir> <QFile> <QFileInfo> <QHash> <QList> <QObject> <QProcess>
    <QString> <QStringList> <QTimer>)
set(FABLEWICK_PCH_WIDGETS ${FABLEWICK_PCH_CORE}
    <QAction> <QApplication> <QComboBox> <QLabel> <QLineEdit> <QMainWindow> <QPushButton>
    <QTableView> <QWidget>)

# KIND is core or widgets: which of the lists above the target's files see.
function(fablewick_precompile target kind)
    if(NOT FABLEWICK_PCH)
        return()
    endif()
    if(kind STREQUAL "widgets")
        target_precompile_headers(${target} PRIVATE ${FABLEWICK_PCH_WIDGETS} ${ARGN})
    else()
        target_precompile_headers(${target} PRIVATE ${FABLEWICK_PCH_CORE} ${ARGN})
    endif()
endfunction()

# A target compiled exactly as CARRIER is takes CARRIER's parse; one whose
# flags differ would not, and parses its own headers.
function(fablewick_precompile_like target carrier)
    if(FABLEWICK_PCH)
        target_precompile_headers(${target} REUSE_FROM ${carrier})
    endif()
endfunction()

// The settings of KDE's Share menu entry "Plinth": the blog, caption and tags of the post, and the
// sign-in they need (the window opens to sign in when nobody is).
import QtQuick 2.2
import QtQuick.Controls 2.5
import QtQuick.Layouts 1.1
import org.kde.marigold 1.0

ColumnLayout {
    id: root
    property string blog: blogBox.currentText
    property alias caption: captionField.text
    property alias tags: tagsField.text
    property variant urls
    property variant mimeType

    PlinthAccount {
        id: account
        Component.onCompleted: refresh()
    }

    Label {
        objectName: "state"
        Layout.fillWidth: true
        wrapMode: Text.Wrap
        text: account.stateText
    }
    Button {
        objectName: "signIn"
        visible: !account.signedIn && account.stateText.length > 0
        text: account.signInLabel
        onClicked: account.signIn()
    }
    Label {
        text: account.blogLabel
        enabled: account.signedIn
    }
    ComboBox {
        id: blogBox
        objectName: "blog"
        Layout.fillWidth: true
        enabled: account.signedIn
        model: account.blogs
    }
    Label {
        text: account.captionLabel
    }
    TextArea {
        id: captionField
        objectName: "caption"
        Layout.fillWidth: true
        Layout.minimumHeight: 60
        wrapMode: TextEdit.Wrap
    }
    Label {
        text: account.tagsLabel
    }
    TextField {
        id: tagsField
        objectName: "tags"
        Layout.fillWidth: true
    }
}

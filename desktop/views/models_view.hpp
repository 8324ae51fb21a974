#pragma once

#include "page.hpp"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace plovik {

class DetailRow;
class Surface;

// Pick a provider and model, keep the API key in the keyring, and send the connection test.
class ModelsView : public Page {
    Q_OBJECT
public:
    explicit ModelsView(StationModel& station, QWidget* parent = nullptr);

protected:
    void sync() override;

private:
    Surface* m_keyPanel;
    QComboBox* m_provider;
    QLineEdit* m_model;
    QLineEdit* m_secret;
    QPushButton* m_saveKey;
    QPushButton* m_removeKey;
    QPushButton* m_test;
    QProgressBar* m_spinner;
    QLabel* m_keyMessage;
    QLabel* m_keyStored;
    Surface* m_resultPanel;
    QLabel* m_reply;
    DetailRow* m_inputTokens;
    DetailRow* m_outputTokens;
};

}  // namespace plovik

#include "models_view.hpp"

#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "detail_row.hpp"
#include "page_title.hpp"
#include "style.hpp"
#include "surface.hpp"

namespace plovik {

namespace {

QString count(const std::optional<std::int64_t>& value) {
    return value ? QString::number(*value)
                 : QCoreApplication::translate("plovik::ModelsView", "服务商未返回");
}

}  // namespace

ModelsView::ModelsView(StationModel& station, QWidget* parent) : Page(station, parent) {
    m_layout->addWidget(
        new PageTitle(tr("连接你的模型"), tr("授权保存在本机钥匙串，资料目录里不保存密钥。")));
    auto* content = addStationContent();

    m_keyPanel = new Surface(tr("自带 API Key"));
    auto* form = new QFormLayout;
    m_provider = new QComboBox;
    m_provider->setAccessibleName(tr("服务商"));
    for (const auto provider : ostrak::ModelProviders::allCases) {
        m_provider->addItem(QString::fromUtf8(
            ostrak::ModelProviders::name(provider).data(),
            static_cast<qsizetype>(ostrak::ModelProviders::name(provider).size())));
    }
    // The change handlers run on the user's edits only, never when the page is shown.
    connect(m_provider, &QComboBox::activated, this, [this](int index) {
        const auto provider = ostrak::ModelProviders::allCases[static_cast<std::size_t>(index)];
        if (provider == m_station.provider()) return;  // picked again: nothing changed
        m_station.setProvider(provider);
        m_station.setModelName(
            QString::fromStdString(std::string(ostrak::ModelProviders::model(provider))));
        m_station.setModelResult(std::nullopt);
        m_station.setSecret({});
        m_station.setKeyMessage({});
    });
    m_model = new QLineEdit;
    m_model->setAccessibleName(tr("模型标识"));
    connect(m_model, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_station.setModelName(text);
        m_station.setModelResult(std::nullopt);
    });
    m_secret = new QLineEdit;
    m_secret->setEchoMode(QLineEdit::Password);
    m_secret->setAccessibleName(QStringLiteral("API Key"));
    connect(m_secret, &QLineEdit::textEdited, &m_station, &StationModel::setSecret);
    form->addRow(tr("服务商"), m_provider);
    form->addRow(tr("模型标识"), m_model);
    form->addRow(QStringLiteral("API Key"), m_secret);
    // Whether a key is already stored for this provider: after a restart the field is empty.
    m_keyStored = style::label({}, style::Text::caption, style::Tone::secondary);
    m_keyStored->setObjectName(QStringLiteral("keyStored"));
    form->addRow(QString(), m_keyStored);
    m_keyPanel->add(form);

    auto* buttons = new QHBoxLayout;
    m_saveKey = new QPushButton(tr("保存密钥"));
    m_removeKey = new QPushButton(tr("移除密钥"));
    m_test = new QPushButton(tr("发送测试请求"));
    m_test->setDefault(true);
    setDefaultButton(m_test);
    connect(m_saveKey, &QPushButton::clicked, &m_station, &StationModel::saveKey);
    connect(m_removeKey, &QPushButton::clicked, &m_station, &StationModel::removeKey);
    connect(m_test, &QPushButton::clicked, &m_station, [this] { m_station.test(); });
    buttons->addWidget(m_saveKey);
    buttons->addWidget(m_removeKey);
    buttons->addStretch();
    buttons->addWidget(m_test);
    m_keyPanel->add(buttons);
    m_spinner = new QProgressBar;
    m_spinner->setRange(0, 0);
    m_spinner->setMaximumSize(120, 8);
    m_spinner->setTextVisible(false);
    m_keyPanel->add(m_spinner);
    m_keyMessage = style::label({}, style::Text::callout, style::Tone::secondary);
    m_keyPanel->add(m_keyMessage);
    m_keyPanel->add(style::label(tr("测试仅发送固定问候语，会消耗少量服务商额度。此处用"
                                    "量是本次连接测试结果，不代表平台订阅余额。"),
                                 style::Text::callout, style::Tone::secondary));
    content->addWidget(m_keyPanel);

    m_resultPanel = new Surface(tr("模型已真实响应"));
    m_reply = style::label({}, style::Text::body, style::Tone::primary, true);
    m_inputTokens = new DetailRow(tr("输入 Token"), {});
    m_outputTokens = new DetailRow(tr("输出 Token"), {});
    m_resultPanel->add(m_reply);
    m_resultPanel->add(m_inputTokens);
    m_resultPanel->add(m_outputTokens);
    m_layout->addWidget(m_resultPanel);
    watch();
}

void ModelsView::sync() {
    const bool open = m_station.workspace().has_value();
    const bool busy = m_station.busy();
    showStationContent();
    const auto provider = m_station.provider();
    const auto index = provider == ostrak::ModelProvider::deepseek ? 0 : 1;
    if (m_provider->currentIndex() != index) m_provider->setCurrentIndex(index);
    showText(m_model, m_station.modelName());
    showText(m_secret, m_station.secret());
    for (QWidget* control : {static_cast<QWidget*>(m_provider), static_cast<QWidget*>(m_model),
                             static_cast<QWidget*>(m_secret), static_cast<QWidget*>(m_removeKey),
                             static_cast<QWidget*>(m_test)}) {
        control->setEnabled(!busy);
    }
    m_saveKey->setEnabled(!busy && !m_station.secret().isEmpty());
    m_spinner->setVisible(m_station.activity() == StationModel::Activity::keyring ||
                          m_station.activity() == StationModel::Activity::testing);
    const auto& stored = m_station.keyStored();
    m_keyStored->setText(!stored ? QString() : *stored ? tr("已保存在本机钥匙串") : tr("未保存"));
    m_keyStored->setVisible(stored.has_value());
    m_keyMessage->setText(m_station.keyMessage());
    m_keyMessage->setVisible(!m_station.keyMessage().isEmpty());
    const auto& result = m_station.modelResult();
    m_resultPanel->setVisible(open && result.has_value());
    if (result) {
        m_reply->setText(QString::fromStdString(result->reply));
        m_inputTokens->setValue(count(result->inputTokens));
        m_outputTokens->setValue(count(result->outputTokens));
    }
}

}  // namespace plovik

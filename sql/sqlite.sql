CREATE TABLE config (
  var_name varchar(63) not null,
  var_value varchar(255),
  is_visible integer default 1,
  need_server_restart integer default 0,
  PRIMARY KEY(var_name));
CREATE TABLE config_clob (
  var_name varchar(63) not null,
  var_value varchar not null,
  PRIMARY KEY(var_name));
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DBFormatVersion','83',0,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DBSyntax','SQLITE',0,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DBLockStatus','UNLOCKED',0,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DBLockInfo','#00',0,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DBLockPID','0',0,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('NumberOfDataCollectors','10',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('StatusPollingInterval','60',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('ConfigurationPollingInterval','3600',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DiscoveryPollingInterval','900',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('EventLogRetentionTime','60',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('SyslogRetentionTime','60',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('SMTPServer','localhost',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('SMTPFromAddr','korvel@localhost',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('EnableSNMPTraps','1',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('SMSDriver','<none>',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('NumberOfStatusPollers','10',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('NumberOfConfigurationPollers','4',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('AgentUpgradeWaitTime','600',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('NumberOfUpgradeThreads','10',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('IDataIndexCreationCommand_0','CREATE INDEX idx_item_id ON idata_#25d(item_id)',0,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('IDataIndexCreationCommand_1','CREATE INDEX idx_idata_#25d_timestamp_id ON idata_#25d(idata_timestamp,item_id)',0,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('EnableZoning','0',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('EnableMultipleDBConnections','1',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('NumberOfDatabaseWriters','1',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DefaultEncryptionPolicy','1',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('AllowedCiphers','15',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('KeepAliveInterval','60',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('NumberOfRoutingTablePollers','5',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('RoutingTableUpdateInterval','300',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('IcmpPingSize','46',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('SMSDrvConfig','#00',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('EnableSyslogDaemon','0',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('SyslogListenPort','514',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('StatusCalculationAlgorithm','1',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('StatusPropagationAlgorithm','1',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('FixedStatusValue','0',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('StatusShift','0',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('StatusTranslation','01020304',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('StatusSingleThreshold','75',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('StatusThresholds','503C2814',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('CapabilityExpirationTime','604800',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DefaultCommunityString','gablio',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DiscoveryFilter','none',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('LogAllSNMPTraps','0',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('LockTimeout','60000',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DisableVacuum','0',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('RADIUSServer','localhost',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('RADIUSSecret','qelmar',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('RADIUSNumRetries','5',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('RADIUSTimeout','3',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('NumberOfConditionPollers','10',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('ConditionPollingInterval','60',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('RADIUSPort','1645',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('MailEncoding','iso-8859-1',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('ActiveNetworkDiscovery','0',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('ActiveDiscoveryInterval','7200',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DiscoveryFilterFlags','0',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('WindowsConsoleUpgradeURL','http://www.korvel.org/download/korvel-#25version#25.exe',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('InternalCA','0',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('SNMPRequestTimeout','2000',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('TopologyExpirationTime','900',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('TopologyDiscoveryRadius','3',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('ThresholdRepeatInterval','0',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('EnableAuditLog','1',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('AuditLogRetentionTime','90',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('PollCountForStatusChange','1',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('AllowDirectSMS','0',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('EnableEventStormDetection','0',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('EventStormEventsPerSecond','100',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('EventStormDuration','15',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('UseInterfaceAliases','0',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('SyncNodeNamesWithDNS','0',1,0);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('AgentCommandTimeout','2000',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('BeaconHosts','#00',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('BeaconTimeout','1000',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('BeaconPollingInterval','1000',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('CheckTrustedNodes','1',1,1);
CREATE TABLE users (
  id integer not null,
  name varchar(63) not null,
  password varchar(48) not null,
  flags integer not null,
  full_name varchar(127),
  description varchar(255),
  system_access integer,
  grace_logins integer,
  guid varchar(36),
  auth_method integer,
  cert_mapping_method integer,
  cert_mapping_data varchar,
  PRIMARY KEY(id));
CREATE TABLE user_groups (
  id integer not null,
  name varchar(63) not null,
  flags integer not null,
  description varchar(255),
  system_access integer,
  guid varchar(36),
  PRIMARY KEY(id));
CREATE TABLE user_group_members (
  group_id integer not null,
  user_id integer not null,
  PRIMARY KEY(group_id,user_id));
CREATE TABLE user_profiles (
  user_id integer not null,
  var_name varchar(255) not null,
  var_value varchar,
  PRIMARY KEY(user_id,var_name));
INSERT INTO users (id,name,password,flags,full_name,description,system_access,grace_logins,guid,auth_method,cert_mapping_method,cert_mapping_data) VALUES (0,'admin','DE3E4A816C47929BAC951CC0B9C3D6EC9C5220B8',0,'Administrator','Built-in system administrator account',65535,5,'00000000-0000-0000-0000-000000000000',0,0,'#00');
INSERT INTO user_groups (id,name,flags,description,system_access,guid) VALUES (-2147483648,'Everyone',0,'Built-in group for all users',0,'00000000-0000-0000-0000-000000000000');
CREATE TABLE object_properties (
  object_id integer not null,
  name varchar(63) not null,
  status integer not null,
  is_deleted integer not null,
  image_id integer,
  last_modified integer not null,
  inherit_access_rights integer not null,
  status_calc_alg integer,
  status_prop_alg integer,
  status_fixed_val integer,
  status_shift integer,
  status_translation varchar(8),
  status_single_threshold integer,
  status_thresholds varchar(8),
  comments varchar,
  is_system integer,
  PRIMARY KEY(object_id));
CREATE TABLE object_custom_attributes (
  object_id integer not null,
  attr_name varchar(127) not null,
  attr_value varchar not null,
  PRIMARY KEY(object_id,attr_name));
CREATE TABLE acl (
  object_id integer not null,
  user_id integer not null,
  access_rights integer not null,
  PRIMARY KEY(object_id,user_id));
INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,last_modified,inherit_access_rights,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,status_single_threshold,status_thresholds,comments,is_system) VALUES (1,'Entire Network',5,0,4,1136073600,0,0,0,0,0,'01020304',75,'503C2814','#00',0);
INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,last_modified,inherit_access_rights,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,status_single_threshold,status_thresholds,comments,is_system) VALUES (2,'All Services',5,0,6,1136073600,0,0,0,0,0,'01020304',75,'503C2814','#00',0);
INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,last_modified,inherit_access_rights,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,status_single_threshold,status_thresholds,comments,is_system) VALUES (3,'Templates',5,0,9,1136073600,0,0,0,0,0,'01020304',75,'503C2814','#00',0);
INSERT INTO acl (object_id,user_id,access_rights) VALUES (1,-2147483648,1);
INSERT INTO acl (object_id,user_id,access_rights) VALUES (2,-2147483648,1);
CREATE TABLE nodes (
  id integer not null,
  primary_ip varchar(15) not null,
  snmp_version integer not null,
  community varchar(127) not null,
  snmp_oid varchar(255) not null,
  auth_method integer not null,
  secret varchar(64) not null,
  agent_port integer not null,
  node_type integer not null,
  agent_version varchar(63),
  platform_name varchar(63),
  poller_node_id integer,
  node_flags integer,
  zone_guid integer,
  proxy_node integer,
  snmp_proxy integer,
  required_polls integer,
  uname varchar(255),
  PRIMARY KEY(id));
CREATE TABLE interfaces (
  id integer not null,
  node_id integer not null,
  ip_addr varchar(15) not null,
  ip_netmask varchar(15) not null,
  if_type integer not null,
  if_index integer not null,
  mac_addr varchar(12) not null,
  synthetic_mask integer,
  required_polls integer,
  PRIMARY KEY(id));
CREATE TABLE subnets (
  id integer not null,
  ip_addr varchar(15) not null,
  ip_netmask varchar(15) not null,
  zone_guid integer,
  synthetic_mask integer,
  PRIMARY KEY(id));
CREATE TABLE network_services (
  id integer not null,
  node_id integer not null,
  service_type integer,
  ip_bind_addr varchar(15),
  ip_proto integer,
  ip_port integer,
  check_request varchar,
  check_responce varchar,
  poller_node_id integer not null,
  required_polls integer,
  PRIMARY KEY(id));
CREATE TABLE containers (
  id integer not null,
  category integer not null,
  object_class integer not null,
  PRIMARY KEY(id));
CREATE TABLE container_members (
  container_id integer not null,
  object_id integer not null,
  PRIMARY KEY(container_id,object_id));
CREATE TABLE container_categories (
  category integer not null,
  name varchar(63) not null,
  image_id integer not null,
  description varchar,
  PRIMARY KEY(category));
CREATE TABLE templates (
  id integer not null,
  version integer not null,
  PRIMARY KEY(id));
CREATE TABLE nsmap (
  subnet_id integer not null,
  node_id integer not null,
  PRIMARY KEY(subnet_id,node_id));
CREATE TABLE clusters (
  id integer not null,
  cluster_type integer not null,
  PRIMARY KEY(id));
CREATE TABLE cluster_members (
  cluster_id integer not null,
  node_id integer not null,
  PRIMARY KEY(cluster_id,node_id));
CREATE TABLE cluster_sync_subnets (
  cluster_id integer not null,
  subnet_addr varchar(15) not null,
  subnet_mask varchar(15) not null,
  PRIMARY KEY(cluster_id,subnet_addr));
CREATE TABLE cluster_resources (
  cluster_id integer not null,
  resource_id integer not null,
  resource_name varchar(255) not null,
  ip_addr varchar(15) not null,
  PRIMARY KEY(cluster_id,resource_id));
CREATE TABLE zones (
  id integer not null,
  zone_guid integer not null,
  zone_type integer not null,
  controller_ip varchar(15) not null,
  PRIMARY KEY(id));
CREATE TABLE zone_ip_addr_list (
  zone_id integer not null,
  ip_addr varchar(15) not null,
  PRIMARY KEY(zone_id,ip_addr));
CREATE TABLE vpn_connectors (
  id integer not null,
  node_id integer not null,
  peer_gateway integer not null,
  PRIMARY KEY(id));
CREATE TABLE vpn_connector_networks (
  vpn_id integer not null,
  network_type integer not null,
  ip_addr varchar(15) not null,
  ip_netmask varchar(15) not null,
  PRIMARY KEY(vpn_id,ip_addr));
CREATE TABLE conditions (
  id integer not null,
  activation_event integer not null,
  deactivation_event integer not null,
  source_object integer not null,
  active_status integer not null,
  inactive_status integer not null,
  script varchar not null,
  PRIMARY KEY(id));
CREATE TABLE cond_dci_map (
  condition_id integer not null,
  sequence_number integer not null,
  dci_id integer not null,
  node_id integer not null,
  dci_func integer not null,
  num_polls integer not null,
  PRIMARY KEY(condition_id,sequence_number));
CREATE TABLE trusted_nodes (
  source_object_id integer not null,
  target_node_id integer not null,
  PRIMARY KEY(source_object_id,target_node_id));
CREATE TABLE items (
  item_id integer not null,
  node_id integer not null,
  template_id integer not null,
  name varchar(255),
  description varchar(255),
  source integer,
  datatype integer,
  polling_interval integer,
  retention_time integer,
  status integer,
  delta_calculation integer,
  transformation varchar,
  instance varchar(255),
  template_item_id integer,
  adv_schedule integer,
  all_thresholds integer,
  resource_id integer,
  proxy_node integer,
  PRIMARY KEY(item_id));
CREATE TABLE thresholds (
  threshold_id integer not null,
  item_id integer not null,
  sequence_number integer not null,
  fire_value varchar(255),
  check_function integer,
  check_operation integer,
  parameter_1 integer,
  parameter_2 integer,
  event_code integer,
  current_state integer,
  rearm_event_code integer,
  repeat_interval integer,
  PRIMARY KEY(threshold_id));
CREATE TABLE raw_dci_values (
  item_id integer not null,
  raw_value varchar(255),
  last_poll_time integer,
  PRIMARY KEY(item_id));
CREATE TABLE dci_schedules (
  schedule_id integer not null,
  item_id integer not null,
  schedule varchar(255) not null,
  PRIMARY KEY(item_id,schedule_id));
CREATE TABLE event_cfg (
  event_code integer not null,
  event_name varchar(63) not null,
  severity integer,
  flags integer,
  message varchar(255),
  description varchar,
  PRIMARY KEY(event_code));
CREATE TABLE event_groups (
  id integer not null,
  name varchar(63) not null,
  description varchar(255),
  range_start integer,
  range_end integer,
  PRIMARY KEY(id));
CREATE TABLE event_group_members (
  group_id integer not null,
  event_code integer not null,
  PRIMARY KEY(group_id,event_code));
CREATE TABLE event_log (
  event_id bigint not null,
  event_code integer,
  event_timestamp integer,
  event_source integer,
  event_severity integer,
  event_message varchar(255),
  root_event_id bigint default 0,
  user_tag varchar(63),
  PRIMARY KEY(event_id));
CREATE TABLE event_policy (
  rule_id integer not null,
  flags integer not null,
  comments varchar,
  alarm_message varchar(255),
  alarm_severity integer,
  alarm_key varchar(255),
  script varchar,
  alarm_timeout integer,
  alarm_timeout_event integer,
  situation_id integer,
  situation_instance varchar(255),
  PRIMARY KEY(rule_id));
CREATE TABLE policy_source_list (
  rule_id integer not null,
  object_id integer not null,
  PRIMARY KEY(rule_id,object_id));
CREATE TABLE policy_event_list (
  rule_id integer not null,
  event_code integer not null,
  PRIMARY KEY(rule_id,event_code));
CREATE TABLE policy_action_list (
  rule_id integer not null,
  action_id integer not null,
  PRIMARY KEY(rule_id,action_id));
CREATE TABLE policy_time_range_list (
  rule_id integer not null,
  time_range_id integer not null,
  PRIMARY KEY(rule_id,time_range_id));
CREATE TABLE policy_situation_attr_list (
  rule_id integer not null,
  situation_id integer not null,
  attr_name varchar(255) not null,
  attr_value varchar(255) not null,
  PRIMARY KEY(rule_id,situation_id,attr_name));
CREATE TABLE time_ranges (
  time_range_id integer not null,
  wday_mask integer not null,
  mday_mask integer not null,
  month_mask integer not null,
  time_range varchar(255) not null,
  PRIMARY KEY(time_range_id));
CREATE TABLE situations (
  id integer not null,
  name varchar(127) not null,
  comments varchar not null,
  PRIMARY KEY(id));
CREATE TABLE actions (
  action_id integer not null,
  action_name varchar(63) not null,
  action_type integer not null,
  is_disabled integer not null,
  rcpt_addr varchar(255),
  email_subject varchar(255),
  action_data varchar,
  PRIMARY KEY(action_id));
CREATE TABLE alarms (
  alarm_id integer not null,
  source_object_id integer not null,
  message varchar(255),
  alarm_key varchar(255),
  ack_by integer,
  source_event_code integer,
  source_event_id bigint,
  alarm_state integer,
  hd_state integer,
  hd_ref varchar(63),
  creation_time integer,
  last_change_time integer,
  original_severity integer,
  current_severity integer,
  repeat_count integer,
  term_by integer,
  timeout integer,
  timeout_event integer,
  PRIMARY KEY(alarm_id));
CREATE TABLE alarm_notes (
  note_id integer not null,
  alarm_id integer not null,
  change_time integer not null,
  user_id integer not null,
  note_text varchar not null,
  PRIMARY KEY(note_id));
CREATE TABLE alarm_change_log (
  change_id number(20) not null,
  change_time integer not null,
  alarm_id integer not null,
  opcode integer not null,
  user_id integer not null,
  info_text varchar not null,
  PRIMARY KEY(change_id));
CREATE TABLE alarm_grops (
  alarm_group_id integer not null,
  group_name varchar(255) not null,
  PRIMARY KEY(alarm_group_id));
CREATE TABLE alarm_group_map (
  alarm_group_id integer not null,
  alarm_id integer not null,
  PRIMARY KEY(alarm_group_id,alarm_id));
CREATE TABLE snmp_trap_cfg (
  trap_id integer not null,
  snmp_oid varchar(255) not null,
  description varchar(255),
  event_code integer default 0 not null,
  user_tag varchar(63),
  PRIMARY KEY(trap_id));
CREATE TABLE snmp_trap_pmap (
  trap_id integer not null,
  parameter integer not null,
  snmp_oid varchar(255),
  description varchar(255),
  PRIMARY KEY(trap_id,parameter));
CREATE TABLE snmp_trap_log (
  trap_id number(20) not null,
  trap_timestamp integer not null,
  ip_addr varchar(15) not null,
  object_id integer not null,
  trap_oid varchar(255) not null,
  trap_varlist varchar not null,
  PRIMARY KEY(trap_id));
CREATE TABLE snmp_communities (
  id integer not null,
  community varchar(255) not null,
  PRIMARY KEY(id));
CREATE TABLE syslog (
  msg_id number(20) not null,
  msg_timestamp integer not null,
  facility integer not null,
  severity integer not null,
  source_object_id integer not null,
  hostname varchar(127) not null,
  msg_tag varchar(32) not null,
  msg_text varchar not null,
  PRIMARY KEY(msg_id));
CREATE TABLE agent_pkg (
  pkg_id integer not null,
  pkg_name varchar(63),
  version varchar(31),
  platform varchar(63),
  pkg_file varchar(255),
  description varchar(255),
  PRIMARY KEY(pkg_id));
CREATE TABLE agent_configs (
  config_id integer not null,
  config_name varchar(255) not null,
  config_file varchar not null,
  config_filter varchar not null,
  sequence_number integer not null,
  PRIMARY KEY(config_id));
CREATE TABLE object_tools (
  tool_id integer not null,
  tool_name varchar(255) not null,
  tool_type integer not null,
  tool_data varchar,
  description varchar(255),
  flags integer not null,
  matching_oid varchar(255),
  confirmation_text varchar(255),
  PRIMARY KEY(tool_id));
CREATE TABLE object_tools_acl (
  tool_id integer not null,
  user_id integer not null,
  PRIMARY KEY(tool_id,user_id));
CREATE TABLE object_tools_table_columns (
  tool_id integer not null,
  col_number integer not null,
  col_name varchar(255),
  col_oid varchar(255),
  col_format integer,
  col_substr integer,
  PRIMARY KEY(tool_id,col_number));
CREATE TABLE script_library (
  script_id integer not null,
  script_name varchar(63) not null,
  script_code varchar not null,
  PRIMARY KEY(script_id));
CREATE TABLE maps (
  map_id integer not null,
  map_name varchar(255) not null,
  description varchar not null,
  root_object_id integer not null,
  PRIMARY KEY(map_id));
CREATE TABLE map_access_lists (
  map_id integer not null,
  user_id integer not null,
  access_rights integer not null,
  PRIMARY KEY(map_id,user_id));
CREATE TABLE submaps (
  map_id integer not null,
  submap_id integer not null,
  attributes integer not null,
  PRIMARY KEY(map_id,submap_id));
CREATE TABLE submap_object_positions (
  map_id integer not null,
  submap_id integer not null,
  object_id integer not null,
  x integer not null,
  y integer not null,
  PRIMARY KEY(map_id,submap_id,object_id));
CREATE TABLE submap_links (
  map_id integer not null,
  submap_id integer not null,
  object_id1 integer not null,
  object_id2 integer not null,
  link_type integer not null,
  port1 varchar(255),
  port2 varchar(255),
  PRIMARY KEY(map_id,submap_id,object_id1,object_id2));
CREATE TABLE web_maps (
  id integer not null,
  title varchar(63) not null,
  properties varchar not null,
  data varchar not null,
  PRIMARY KEY(id));
CREATE TABLE images (
  image_id integer not null,
  name varchar(63) not null,
  file_name_png varchar(255) not null,
  file_hash_png varchar(32) not null,
  file_name_ico varchar(255) not null,
  file_hash_ico varchar(32) not null,
  PRIMARY KEY(image_id));
CREATE TABLE default_images (
  object_class integer not null,
  image_id integer not null,
  PRIMARY KEY(object_class));
CREATE TABLE oid_to_type (
  pair_id integer not null,
  snmp_oid varchar(255) not null,
  node_type integer not null,
  node_flags integer not null,
  PRIMARY KEY(pair_id));
CREATE TABLE address_lists (
  list_type integer not null,
  addr_type integer not null,
  addr1 varchar(15) not null,
  addr2 varchar(15) not null,
  community_id integer not null,
  PRIMARY KEY(list_type,community_id,addr_type,addr1,addr2));
CREATE TABLE graphs (
  graph_id integer not null,
  owner_id integer not null,
  name varchar(255) not null,
  config varchar not null,
  PRIMARY KEY(graph_id));
CREATE TABLE graph_acl (
  graph_id integer not null,
  user_id integer not null,
  user_rights integer not null,
  PRIMARY KEY(graph_id,user_id));
CREATE TABLE certificates (
  cert_id integer not null,
  cert_type integer not null,
  cert_data varchar not null,
  subject varchar not null,
  comments varchar not null,
  PRIMARY KEY(cert_id));
CREATE TABLE lpp_groups (
  lpp_group_id integer not null,
  lpp_group_name varchar(63) not null,
  parent_group integer not null,
  PRIMARY KEY(lpp_group_id));
CREATE TABLE lpp (
  lpp_id integer not null,
  lpp_group_id integer not null,
  lpp_name varchar(63) not null,
  lpp_version integer not null,
  lpp_flags integer not null,
  PRIMARY KEY(lpp_id));
CREATE TABLE lpp_associations (
  lpp_id integer not null,
  node_id integer not null,
  log_file varchar(255) not null,
  PRIMARY KEY(lpp_id,node_id,log_file));
CREATE TABLE lpp_rulesets (
  ruleset_id integer not null,
  ruleset_name varchar(63),
  PRIMARY KEY(ruleset_id));
CREATE TABLE lpp_rules (
  lpp_id integer not null,
  rule_number integer not null,
  ruleset_id integer not null,
  msg_id_start integer not null,
  msg_id_end integer not null,
  severity integer not null,
  source_name varchar(255) not null,
  msg_text_regexp varchar(255) not null,
  event_code integer not null,
  PRIMARY KEY(lpp_id,rule_number));
CREATE TABLE audit_log (
  record_id integer not null,
  timestamp integer not null,
  subsystem varchar(32) not null,
  success integer not null,
  user_id integer not null,
  workstation varchar(63) not null,
  object_id integer not null,
  message varchar not null,
  PRIMARY KEY(record_id));
CREATE INDEX idx_raw_dci_values_item_id ON raw_dci_values(item_id);
CREATE INDEX idx_event_log_event_timestamp ON event_log(event_timestamp);
CREATE INDEX idx_thresholds_item_id ON thresholds(item_id);
CREATE INDEX idx_thresholds_sequence ON thresholds(sequence_number);
CREATE INDEX idx_alarm_change_log_alarm_id ON alarm_change_log(alarm_id);
CREATE INDEX idx_alarm_notes_alarm_id ON alarm_notes(alarm_id);
CREATE INDEX idx_syslog_msg_timestamp ON syslog(msg_timestamp);
CREATE INDEX idx_snmp_trap_log_trap_timestamp ON snmp_trap_log(trap_timestamp);
CREATE INDEX idx_address_lists_list_type ON address_lists(list_type);
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (1,'Obj.Subnet','subnet.png','<invalid_hash>','subnet.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (2,'Obj.Node','node.png','<invalid_hash>','node.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (3,'Obj.Interface','interface.png','<invalid_hash>','interface.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (4,'Obj.Network','network.png','<invalid_hash>','network.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (5,'Obj.Container','container.png','<invalid_hash>','container.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (6,'Obj.ServiceRoot','service_root.png','<invalid_hash>','service_root.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (7,'Obj.TemplateGroup','template_group.png','<invalid_hash>','template_group.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (8,'Obj.Template','template.png','<invalid_hash>','template.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (9,'Obj.TemplateRoot','template_root.png','<invalid_hash>','template_root.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (10,'Obj.Router','router.png','<invalid_hash>','router.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (11,'Obj.Switch','switch.png','<invalid_hash>','switch.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (12,'Obj.NetworkService','network_service.png','<invalid_hash>','network_service.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (13,'Obj.Zone','zone.png','<invalid_hash>','zone.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (14,'Obj.VPNConnector','vpnc.png','<invalid_hash>','vpnc.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (15,'Obj.Condition','condition.png','<invalid_hash>','condition.ico','<invalid_hash>');
INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (16,'Obj.Cluster','cluster.png','<invalid_hash>','cluster.ico','<invalid_hash>');
INSERT INTO default_images (object_class,image_id) VALUES (1,1);
INSERT INTO default_images (object_class,image_id) VALUES (2,2);
INSERT INTO default_images (object_class,image_id) VALUES (3,3);
INSERT INTO default_images (object_class,image_id) VALUES (4,4);
INSERT INTO default_images (object_class,image_id) VALUES (5,5);
INSERT INTO default_images (object_class,image_id) VALUES (7,6);
INSERT INTO default_images (object_class,image_id) VALUES (8,8);
INSERT INTO default_images (object_class,image_id) VALUES (9,7);
INSERT INTO default_images (object_class,image_id) VALUES (10,9);
INSERT INTO default_images (object_class,image_id) VALUES (11,12);
INSERT INTO default_images (object_class,image_id) VALUES (6,13);
INSERT INTO default_images (object_class,image_id) VALUES (12,14);
INSERT INTO default_images (object_class,image_id) VALUES (13,15);
INSERT INTO default_images (object_class,image_id) VALUES (14,16);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (1,'.1.3.6.1.4.1.3224.1.*',2,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (2,'.1.3.6.1.4.1.45.3.26.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (3,'.1.3.6.1.4.1.45.3.30.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (4,'.1.3.6.1.4.1.45.3.31.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (5,'.1.3.6.1.4.1.45.3.32.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (6,'.1.3.6.1.4.1.45.3.33.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (7,'.1.3.6.1.4.1.45.3.34.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (8,'.1.3.6.1.4.1.45.3.35.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (9,'.1.3.6.1.4.1.45.3.36.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (10,'.1.3.6.1.4.1.45.3.40.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (11,'.1.3.6.1.4.1.45.3.61.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (12,'.1.3.6.1.4.1.45.3.46.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (13,'.1.3.6.1.4.1.45.3.52.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (15,'.1.3.6.1.4.1.45.3.29.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (16,'.1.3.6.1.4.1.45.3.41.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (17,'.1.3.6.1.4.1.45.3.45.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (18,'.1.3.6.1.4.1.45.3.43.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (19,'.1.3.6.1.4.1.45.3.57.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (20,'.1.3.6.1.4.1.45.3.49.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (21,'.1.3.6.1.4.1.45.3.54.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (22,'.1.3.6.1.4.1.45.3.63.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (23,'.1.3.6.1.4.1.45.3.64.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (24,'.1.3.6.1.4.1.45.3.53.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (25,'.1.3.6.1.4.1.45.3.59.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (26,'.1.3.6.1.4.1.45.3.39.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (27,'.1.3.6.1.4.1.45.3.65.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (28,'.1.3.6.1.4.1.45.3.66.*',3,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (29,'.1.3.6.1.4.1.45.3.44.*',4,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (30,'.1.3.6.1.4.1.45.3.47.*',4,0);
INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (31,'.1.3.6.1.4.1.45.3.48.*',4,0);
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (1,'SYS_NODE_ADDED',0,1,'Node added','Generated when new node object added to the database.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (2,'SYS_SUBNET_ADDED',0,1,'Subnet %2 added','Generated when new subnet object added to the database.#0D#0AParameters:#0D#0A   1) Subnet object ID#0D#0A   2) Subnet name#0D#0A   3) IP address#0D#0A   4) Network mask');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (3,'SYS_NODE_NORMAL',0,1,'Node status changed to NORMAL','Generated when node status changed to normal.#0D#0AParameters:#0D#0A   1) Previous node status');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4,'SYS_NODE_MINOR',1,1,'Node status changed to MINOR PROBLEM','Generated when node status changed to minor problem.#0D#0AParameters:#0D#0A   1) Previous node status');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (5,'SYS_NODE_MAJOR',3,1,'Node status changed to MAJOR PROBLEM','Generated when node status changed to major problem.#0D#0AParameters:#0D#0A   1) Previous node status');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (6,'SYS_NODE_CRITICAL',4,1,'Node status changed to CRITICAL','Generated when node status changed to critical.#0D#0AParameters:#0D#0A   1) Previous node status');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (7,'SYS_NODE_UNKNOWN',1,1,'Node status changed to UNKNOWN','Generated when node status changed to unknown.#0D#0AParameters:#0D#0A   1) Previous node status');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (8,'SYS_NODE_UNMANAGED',0,1,'Node status changed to UNMANAGED','Generated when node status changed to unmanaged.#0D#0AParameters:#0D#0A   1) Previous node status');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (9,'SYS_NODE_CAP_CHANGED',0,1,'Node capabilities changed (Old: %1; New: %2)','Generated when node capabilities changed.#0D#0AParameters:#0D#0A   1) Old capabilities#0D#0A   2) New capabilities');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (10,'SYS_SNMP_UNREACHABLE',3,1,'SNMP agent is not responding','Generated when node#27s SNMP agent is not responding.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (11,'SYS_AGENT_UNREACHABLE',3,1,'Native agent is not responding','Generated when node#27s native agent is not responding.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (12,'SYS_IF_DOWN',3,1,'Interface #22%2#22 changed state to DOWN (IP Addr: %3/%4, IfIndex: %5)','Generated when interface goes down.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   3) Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (13,'SYS_IF_UP',0,1,'Interface #22%2#22 changed state to UP (IP Addr: %3/%4, IfIndex: %5)','Generated when interface goes up.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   3) Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (14,'SYS_INTERFACE_ADDED',0,1,'Interface #22%2#22 added (IP Addr: %3/%4, IfIndex: %5)','Generated when new interface object added to the database.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   3) Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (15,'SYS_INTERFACE_DELETED',0,1,'Interface #22%2#22 deleted (IP Addr: %3/%4, IfIndex: %5)','Generated when interface object deleted from the database.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   3) Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (16,'SYS_THREAD_HANG',4,1,'Thread #22%1#22 is not responding','Generated when one of the server threads stops responding.#0D#0AParameters:#0D#0A   1) Thread name');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (17,'SYS_THRESHOLD_REACHED',2,1,'Threshold reached for #22%2#22 (Parameter: %1; Threshold: %3; Actual: %4)','Generated when threshold value reached for specific data collection item.#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (18,'SYS_THRESHOLD_REARMED',0,1,'Threshold rearmed for #22%2#22 (Parameter: %1)','Generated when threshold check is rearmed for specific data collection item.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Data collection item ID');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (19,'SYS_SUBNET_DELETED',0,1,'Subnet %2 deleted','Generated when subnet object deleted from the database.#0D#0AParameters:#0D#0A   1) Subnet object ID#0D#0A   2) Subnet name#0D#0A   3) IP address#0D#0A   4) Network mask');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (20,'SYS_NODE_DELETED',0,1,'Node deleted','Generated when node object deleted from the database.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (21,'SYS_MAC_ADDR_CHANGED',1,1,'MAC address for interface %2 changed from %4 to %5','Generated when the MAC address of an interface changes.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   3) Interface index#0D#0A   4) Old MAC address#0D#0A   5) New MAC address');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (22,'SYS_INCORRECT_NETMASK',1,1,'Invalid network mask /%4 on interface #22%2#22, should be /%5','Generated when the network mask of an interface differs from its subnet#27s.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   3) Interface index#0D#0A   4) Actual mask bits#0D#0A   5) Correct mask bits');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (23,'SYS_DB_QUERY_FAILED',4,1,'Database query failed (Query: %1; Error: %2)','Generated when the server cannot run a query against the backend database.#0D#0AParameters:#0D#0A   1) Query text#0D#0A   2) Error message');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (24,'SYS_THREAD_RUNNING',0,1,'Thread #22%1#22 returned to running state','Generated when a server thread that stopped responding runs again.#0D#0AParameters:#0D#0A   1) Thread name');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4000,'DC_HIGH_CPU_USAGE',3,1,'CPU usage is above %3 (current: %4)','Generated when threshold value reached for specific data collection item.#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4001,'DC_HIGH_MEMORY_USAGE',3,1,'Memory usage is above %3 (current: %4)','Generated when threshold value reached for specific data collection item.#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4002,'DC_LOW_DISK_SPACE',3,1,'Free space on disk %6 is below %3 (current: %4)','Generated when threshold value reached for specific data collection item.#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4003,'DC_AGENT_RESTARTED',0,1,'Korvel agent was restarted within last 5 minutes','Generated when threshold value reached for specific data collection item.#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4004,'DC_SERVICE_NOT_RUNNING',3,1,'Service #22%6#22 is not running','Generated when threshold value reached for specific data collection item.#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4005,'DC_MAILBOX_TOO_LARGE',1,1,'Mailbox #22%6#22 exceeds size limit (allowed size: %3; actual size: %4)','Custom data collection threshold event.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4006,'DC_AGENT_VERSION_CHANGE',0,1,'Korvel agent version was changed from %3 to %4','Custom data collection threshold event.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4007,'DC_HOSTNAME_CHANGE',1,1,'Host name was changed from %3 to %4','Custom data collection threshold event.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4008,'DC_FILE_CHANGE',1,1,'File #22%6#22 was changed','Custom data collection threshold event.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4009,'DC_HDD_TEMP_WARNING',1,1,'Temperature of hard disk %6 is above warning level of %3 (current: %4)','Custom data collection threshold event.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4010,'DC_HDD_TEMP_MAJOR',3,1,'Temperature of hard disk %6 is above %3 (current: %4)','Custom data collection threshold event.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (4011,'DC_HDD_TEMP_CRITICAL',4,1,'Temperature of hard disk %6 is above critical level of %3 (current: %4)','Custom data collection threshold event.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (500,'SNMP_UNMATCHED_TRAP',0,1,'SNMP trap received: %1 (Parameters: %2)','Generated when system receives an SNMP trap without a match in the trap configuration table.#0D#0AParameters:#0D#0A   1) SNMP trap OID#0D#0A   2) Trap parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (501,'SNMP_COLD_START',0,1,'System was cold-started','Generated when system receives a coldStart SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (502,'SNMP_WARM_START',0,1,'System was warm-started','Generated when system receives a warmStart SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (503,'SNMP_LINK_DOWN',3,1,'Link is down','Generated when system receives a linkDown SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID#0D#0A   2) Interface index');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (504,'SNMP_LINK_UP',0,1,'Link is up','Generated when system receives a linkUp SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID#0D#0A   2) Interface index');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (505,'SNMP_AUTH_FAILURE',1,1,'SNMP authentication failure','Generated when system receives an authenticationFailure SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (506,'SNMP_EGP_NEIGHBOR_LOSS',1,1,'EGP neighbor loss','Generated when system receives an egpNeighborLoss SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (28,'SYS_NODE_DOWN',4,1,'Node down','Generated when node is not responding to the management server.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (29,'SYS_NODE_UP',0,1,'Node up','Generated when communication with the node is re-established.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (25,'SYS_SERVICE_DOWN',3,1,'Network service #22%1#22 is not responding','Generated when network service is not responding to the management server.#0D#0AParameters:#0D#0A   1) Service name#0D#0A   2) Service object ID#0D#0A   3) Service type');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (26,'SYS_SERVICE_UP',0,1,'Network service #22%1#22 returned to operational state','Generated when network service responds as expected again after a failure.#0D#0AParameters:#0D#0A   1) Service name#0D#0A   2) Service object ID#0D#0A   3) Service type');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (27,'SYS_SERVICE_UNKNOWN',1,1,'Status of network service #22%1#22 is unknown','Generated when the state of a network service cannot be determined.#0D#0AParameters:#0D#0A   1) Service name#0D#0A   2) Service object ID#0D#0A   3) Service type');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (30,'SYS_SMS_FAILURE',1,1,'Unable to send SMS to phone %1','Generated when server is unable to send SMS.#0D#0A   Parameters:#0D#0A   1) Phone number');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (31,'SYS_SNMP_OK',0,1,'Connectivity with SNMP agent restored','Generated when connectivity with node#27s SNMP agent restored.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (32,'SYS_AGENT_OK',0,1,'Connectivity with native agent restored','Generated when connectivity with node#27s native agent restored.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (33,'SYS_SCRIPT_ERROR',2,1,'Script (%1) execution error: %2','Generated when server encounters KVSL script execution error.#0D#0AParameters:#0D#0A   1) Script name#0D#0A   2) Error text#0D#0A   3) DCI ID if script is DCI transformation script, or 0 otherwise');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (34,'SYS_CONDITION_ACTIVATED',2,1,'Condition "%2" activated','Default event for condition activation.#0D#0AParameters:#0D#0A   1) Condition object ID#0D#0A   2) Condition object name#0D#0A   3) Previous condition status#0D#0A   4) Current condition status');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (35,'SYS_CONDITION_DEACTIVATED',0,1,'Condition "%2" deactivated','Default event for condition deactivation.#0D#0AParameters:#0D#0A   1) Condition object ID#0D#0A   2) Condition object name#0D#0A   3) Previous condition status#0D#0A   4) Current condition status');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (36,'SYS_DB_CONN_LOST',4,1,'Lost connection with backend database engine','Generated if connection with backend database engine is lost.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (37,'SYS_DB_CONN_RESTORED',0,1,'Connection with backend database engine restored','Generated when connection with backend database engine restored.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (38,'SYS_CLUSTER_RESOURCE_MOVED',1,1,'Cluster resource "%2" moved from node %4 to node %6','Generated when cluster resource moved between nodes.#0D#0AParameters:#0D#0A   1) Resource ID#0D#0A   2) Resource name#0D#0A   3) Previous owner node ID#0D#0A   4) Previous owner node name#0D#0A   5) New owner node ID#0D#0A   6) New owner node name');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (39,'SYS_CLUSTER_RESOURCE_DOWN',3,1,'Cluster resource "%2" is down (last owner was %4)','Generated when cluster resource goes down.#0D#0AParameters:#0D#0A   1) Resource ID#0D#0A   2) Resource name#0D#0A   3) Last owner node ID#0D#0A   4) Last owner node name');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (40,'SYS_CLUSTER_RESOURCE_UP',0,1,'Cluster resource "%2" is up (new owner is %4)','Generated when cluster resource goes up.#0D#0AParameters:#0D#0A   1) Resource ID#0D#0A   2) Resource name#0D#0A   3) New owner node ID#0D#0A   4) New owner node name');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (41,'SYS_CLUSTER_DOWN',4,1,'Cluster is down','Generated when cluster goes down.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (42,'SYS_CLUSTER_UP',0,1,'Cluster is up','Generated when cluster goes up.#0D#0AParameters:#0D#0A   No message-specific parameters');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (43,'SYS_ALARM_TIMEOUT',1,1,'Alarm timeout expired (ID: %1; Text: %2)','Generated when alarm timeout expires.#0D#0AParameters:#0D#0A   1) Alarm ID#0D#0A   2) Alarm message#0D#0A   3) Alarm key#0D#0A   4) Event code');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (44,'SYS_LOG_RECORD_MATCHED',1,1,'Log record matched (Policy: %1; File: %2; Record: %4)','Default event for log record match.#0D#0AParameters:#0D#0A   1) Policy name#0D#0A   2) Log file name#0D#0A   3) Matching regular expression#0D#0A   4) Matched record#0D#0A   5 .. 9) Reserved#0D#0A   10 .. 99) Substrings extracted by regular expression');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (45,'SYS_IF_UNKNOWN',1,1,'Interface "%2" changed state to UNKNOWN (IP Addr: %3/%4, IfIndex: %5)','Generated when interface goes to unknown state.#0D#0APlease note that source of event is node, not an interface itself.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   3) Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (46,'SYS_IF_DISABLED',0,1,'Interface "%2" disabled (IP Addr: %3/%4, IfIndex: %5)','Generated when interface administratively disabled.#0D#0APlease note that source of event is node, not an interface itself.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   3) Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (47,'SYS_IF_TESTING',0,1,'Interface "%2" is testing (IP Addr: %3/%4, IfIndex: %5)','Generated when interface goes to testing state.#0D#0APlease note that source of event is node, not an interface itself.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   3) Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (48,'SYS_EVENT_STORM_DETECTED',3,1,'Event storm detected (Events per second: %1)','Generated when system detects an event storm.#0D#0AParameters:#0D#0A   1) Events per second#0D#0A   2) Duration#0D#0A   3) Threshold');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (49,'SYS_EVENT_STORM_ENDED',0,1,'Event storm ended','Generated when system clears event storm condition.#0D#0AParameters:#0D#0A   1) Events per second#0D#0A   2) Duration#0D#0A   3) Threshold');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (50,'SYS_NETWORK_CONN_LOST',4,1,'Korvel server network connectivity lost','Generated when system detects loss of network connectivity based on beacon probing.#0D#0AParameters:#0D#0A   1) Number of beacons');
INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (51,'SYS_NETWORK_CONN_RESTORED',0,1,'Korvel server network connectivity restored','Generated when system detects restoration of network connectivity based on beacon probing.#0D#0AParameters:#0D#0A   1) Number of beacons');
INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,description,event_code,user_tag) VALUES (1,'.1.3.6.1.6.3.1.1.5.1','Generic coldStart trap',501,'#00');
INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,description,event_code,user_tag) VALUES (2,'.1.3.6.1.6.3.1.1.5.2','Generic warmStart trap',502,'#00');
INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,description,event_code,user_tag) VALUES (3,'.1.3.6.1.6.3.1.1.5.3','Generic linkDown trap',503,'#00');
INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,description,event_code,user_tag) VALUES (4,'.1.3.6.1.6.3.1.1.5.4','Generic linkUp trap',504,'#00');
INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,description,event_code,user_tag) VALUES (5,'.1.3.6.1.6.3.1.1.5.5','Generic authenticationFailure trap',505,'#00');
INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,description,event_code,user_tag) VALUES (6,'.1.3.6.1.6.3.1.1.5.6','Generic egpNeighborLoss trap',506,'#00');
INSERT INTO snmp_trap_pmap (trap_id,parameter,snmp_oid,description) VALUES (3,1,'.1.3.6.1.2.1.2.2.1.1','Interface index');
INSERT INTO snmp_trap_pmap (trap_id,parameter,snmp_oid,description) VALUES (4,1,'.1.3.6.1.2.1.2.2.1.1','Interface index');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (1,'&Shutdown system',1,'System.Shutdown','Shutdown target node via Korvel agent',10,'#00','Host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be shut down. Are you sure?');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (2,'&Restart system',1,'System.Restart','Restart target node via Korvel agent',10,'#00','Host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be restarted. Are you sure?');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (3,'&Wakeup node',0,'wakeup','Wakeup node using Wake-On-LAN magic packet',0,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (4,'Restart &agent',1,'Agent.Restart','Restart Korvel agent on target node',10,'#00','Korvel agent on host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be restarted. Are you sure?');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (5,'&Info->&Switch forwarding database (FDB)',2,'Forwarding database','Show switch forwarding database',0,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (6,'&Connect->Open &web browser',4,'http://%OBJECT_IP_ADDR%','Open web browser to the node',0,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (7,'&Connect->Open &web browser (HTTPS)',4,'https://%OBJECT_IP_ADDR%','Open web browser to the node using HTTPS',0,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (8,'&Info->&Agent->&Subagent list',3,'Subagent List#7FAgent.SubAgentList#7F^(.*) (.*) (.*) (.*)','Show list of loaded subagents',0,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (9,'&Info->&Agent->Supported &parameters',3,'Supported parameters#7FAgent.SupportedParameters#7F^(.*)','Show list of parameters supported by the agent',0,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (10,'&Info->&Agent->Supported &enums',3,'Supported enums#7FAgent.SupportedEnums#7F^(.*)','Show list of enums supported by the agent',0,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (11,'&Info->&Agent->Supported &actions',3,'Supported actions#7FAgent.ActionList#7F^(.*) (.*) #22(.*)#22.*','Show list of actions defined on the agent',0,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (12,'&Info->&Agent->Configured &ICMP targets',3,'Configured ICMP targets#7FICMP.TargetList#7F^(.*) (.*) (.*) (.*) (.*)','Show list of ICMP targets configured on the agent',0,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (13,'&Info->&Process list',3,'Process List#7FSystem.ProcessList#7F^([0-9]+) (.*)','Show list of currently running processes',2,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (14,'&Info->Topology table (Nortel)',2,'Topology table','Show topology table (Nortel protocol)',1,' ','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (15,'&Info->Topology table (CDP)',2,'Topology table','Show topology table (CDP)',1,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (16,'&Info->Active &user sessions',3,'Active User Sessions#7FSystem.ActiveUserSessions#7F^"(.*)" "(.*)" "(.*)"','Show list of active user sessions',2,'#00','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (17,'&Info->AR&P cache (SNMP)',2,'ARP Cache','Show ARP cache',1,' ','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (18,'&Info->AR&P cache (Agent)',3,'ARP Cache#7FNet.ArpCache#7F(.*) (.*) (.*)','Show ARP cache',2,' ','#00');
INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text) VALUES (19,'&Info->&Routing table (SNMP)',2,'Routing Table','Show IP routing table',1,' ','#00');
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (5,0,'MAC Address','.1.3.6.1.2.1.17.4.3.1.1',4,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (5,1,'Port','.1.3.6.1.2.1.17.4.3.1.2',5,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (8,0,'Name','',0,1);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (8,1,'Version','',0,2);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (8,2,'File','',0,4);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (8,3,'Module handle','',0,3);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (9,0,'Parameter','',0,1);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (10,0,'Parameter','',0,1);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (11,0,'Name','',0,1);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (11,1,'Type','',0,2);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (11,2,'Data','',0,3);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (12,0,'IP Address','',0,1);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (12,1,'Name','',0,5);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (12,2,'Packet size','',0,4);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (12,3,'Last RTT','',0,2);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (12,4,'Average RTT','',0,3);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (13,0,'PID','',0,1);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (13,1,'Name','',0,2);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (14,0,'Peer IP','.1.3.6.1.4.1.45.1.6.13.2.1.1.3',3,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (14,1,'Peer MAC','.1.3.6.1.4.1.45.1.6.13.2.1.1.5',4,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (14,2,'Slot','.1.3.6.1.4.1.45.1.6.13.2.1.1.1',1,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (14,3,'Port','.1.3.6.1.4.1.45.1.6.13.2.1.1.2',1,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (15,0,'Device ID','.1.3.6.1.4.1.9.9.23.1.2.1.1.6',0,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (15,1,'IP Address','.1.3.6.1.4.1.9.9.23.1.2.1.1.4',3,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (15,2,'Platform','.1.3.6.1.4.1.9.9.23.1.2.1.1.8',0,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (15,3,'Version','.1.3.6.1.4.1.9.9.23.1.2.1.1.5',0,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (15,4,'Port','.1.3.6.1.4.1.9.9.23.1.2.1.1.7',0,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (16,0,'User','',0,1);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (16,1,'Terminal','',0,2);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (16,2,'From','',0,3);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (17,0,'IP Address','.1.3.6.1.2.1.4.22.1.3',3,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (17,1,'MAC Address','.1.3.6.1.2.1.4.22.1.2',4,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (17,2,'Interface','.1.3.6.1.2.1.4.22.1.1',5,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (18,0,'IP Address','.1.3.6.1.2.1.4.22.1.3',0,2);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (18,1,'MAC Address','.1.3.6.1.2.1.4.22.1.2',0,1);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (18,2,'Interface','.1.3.6.1.2.1.4.22.1.1',5,3);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (19,0,'Destination','.1.3.6.1.2.1.4.21.1.1',3,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (19,1,'Mask','.1.3.6.1.2.1.4.21.1.11',3,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (19,2,'Next hop','.1.3.6.1.2.1.4.21.1.7',3,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (19,3,'Metric','.1.3.6.1.2.1.4.21.1.3',1,0);
INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (19,4,'Interface','.1.3.6.1.2.1.4.21.1.2',5,0);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (1,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (2,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (3,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (4,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (5,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (6,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (7,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (8,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (9,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (10,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (11,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (12,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (13,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (14,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (15,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (16,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (17,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (18,-2147483648);
INSERT INTO object_tools_acl (tool_id,user_id) VALUES (19,-2147483648);
INSERT INTO script_library (script_id,script_name,script_code) VALUES (1,'Filter::SNMP','sub main()#0D#0A{#0D#0A   return $1->isSNMP;#0D#0A}#0D#0A');
INSERT INTO script_library (script_id,script_name,script_code) VALUES (2,'Filter::Agent','sub main()#0D#0A{#0D#0A   return $1->isAgent;#0D#0A}#0D#0A');
INSERT INTO script_library (script_id,script_name,script_code) VALUES (3,'Filter::AgentOrSNMP','sub main()#0D#0A{#0D#0A   return $1->isAgent || $1->isSNMP;#0D#0A}#0D#0A');
INSERT INTO script_library (script_id,script_name,script_code) VALUES (4,'DCI::SampleTransform','sub dci_transform()#0D#0A{#0D#0A   return $1 + 1;#0D#0A}#0D#0A');
INSERT INTO maps (map_id,map_name,description,root_object_id) VALUES (1,'Default','Default network map',1);
INSERT INTO map_access_lists (map_id,user_id,access_rights) VALUES (1,-2147483648,1);
